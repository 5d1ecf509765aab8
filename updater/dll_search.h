#pragma once

// Restricts the DLLs that the process loads from now on (delay loads, shell
// extensions, anything LoadLibrary is asked for by name) to the system
// directory. The updater's own directory is unpacked from a pack and, in
// install mode, is also the working directory; neither may supply a DLL.
// SetDefaultDllDirectories is looked up at run time, because systems without
// the update that brought it lack the export; there the call does nothing and
// answers false.
bool RestrictDllSearchToSystemDirectory();
