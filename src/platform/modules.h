// Modules: the main program, loading and freeing libraries, and looking up symbols.
//
// Two naming rules live here and nowhere else:
// - Symbol names. The host exports decorated names such as "_OPAGetMailbox@0". The POSIX
//   dynamic linker reads an "@" in a symbol name as the start of a version, so on POSIX the
//   exporter defines the name with every "@" written as "_at_" ("_OPAGetMailbox_at_0"), and
//   FindSymbol applies the same rule (ExportedSymbolName) before it looks the name up.
// - Library names. A name ending in ".dll" (any case) stands for the shared object we build
//   for it: the same name with ".so" in place of ".dll". "\" separators become "/". A relative
//   name is looked for first beside the main program, then as given (relative to the current
//   directory when it holds a separator, else on the loader's search path).
#ifndef ORV_PLATFORM_MODULES_H_
#define ORV_PLATFORM_MODULES_H_

#include <string>

namespace platform {

using ModuleHandle = void*;

// The symbol name under which an exported name is found on this platform. Pure.
std::string ExportedSymbolName(const char* name);
// The file name under which a library name is found on this platform. Pure.
std::string LibraryFileName(const char* name);

// The main program's handle; null on failure.
ModuleHandle MainModule();
// The handle of the loaded module (program or library) that holds the code or data at
// address, without loading it again; null when none does. For a library to find its own
// resources.
ModuleHandle ModuleOf(const void* address);
// Loads a library by name (see above). Null when it cannot be loaded.
ModuleHandle LoadModule(const char* name);
// The address of an exported symbol, or null.
void* FindSymbol(ModuleHandle module, const char* name);
// Unloads a library. Non-zero on success, 0 on failure.
int FreeModule(ModuleHandle module);
// The directory of the main program, ending with "/"; empty when unknown.
std::string MainProgramDirectory();

}  // namespace platform

#endif  // ORV_PLATFORM_MODULES_H_
