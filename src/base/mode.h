// The server's two modes, chosen per connection: the exact mode (the plug-in's historical
// behaviour, byte for byte) and the extended mode (what today's clients need beyond it). Every
// layer that answers differently takes the mode as a value.
#ifndef ORV_BASE_MODE_H_
#define ORV_BASE_MODE_H_

enum class Mode { kExact, kExtended };

#endif  // ORV_BASE_MODE_H_
