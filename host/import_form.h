// The form in which the host keeps a message that it imports: header fields with their encoded
// words decoded into Shift_JIS, and text parts (ISO-2022-JP, UTF-8, Shift_JIS or US-ASCII, in
// 7bit, 8bit, quoted-printable or base64) as Shift_JIS text with their Content-Type charset and
// Content-Transfer-Encoding fields saying how the server hands them out (ISO-2022-JP, 7bit).
// Pure functions, no file access.
#ifndef ORV_HOST_IMPORT_FORM_H_
#define ORV_HOST_IMPORT_FORM_H_

#include <string>

// The message as the host stores it. Other parts (attachments, messages, multipart preambles)
// are left byte for byte; so is text that Shift_JIS cannot hold, except that 8-bit text of that
// kind is carried in base64, since the server would read its bytes as Shift_JIS. A message
// already in the host's form comes back unchanged.
std::string HostFormOf(const std::string& message);

#endif  // ORV_HOST_IMPORT_FORM_H_
