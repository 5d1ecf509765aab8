#pragma once

#include <windows.h>

#include <string>

// The one rule on links, applied to an object through the handle that opened
// it by a name in a directory.
//
// A link is a reparse point whose tag is a name surrogate: a junction, a
// symbolic link, or anything else that stands for another name. Other
// reparse points (compressed, deduplicated or cloud-placeholder files) are
// the ordinary files and directories they look like.
//
// Hazard: a link is not always flagged. Wine opens a Unix symbolic link as
// what it points to, with no reparse attribute at all (deleting it by name
// deletes the target). An object therefore counts as reached by its own
// name only when its final path is its directory's final path followed by
// that name. (Wine derives a final path from the names an object and its
// directories were opened by, resolved when it was opened: a directory
// renamed from the Unix side afterwards keeps its old final path.)

// True for the reparse points that are links.
bool IsLinkReparsePoint(DWORD attributes, DWORD reparseTag);

enum class ObjectKind {
  File,
  Directory,
  Link,     // a link by the rule above
  Unknown,  // its attributes or final path cannot be read, or the final
            // paths cannot be compared (they came in different forms): it
            // cannot be told from a link, and callers refuse it as one
};

// What `object`, opened without following a final link as `name` (one
// component) in the directory whose final path is `directoryFinalPath`, is.
// `finalPath`, when given, receives the object's final path.
ObjectKind JudgeOpenedName(HANDLE object, const std::wstring& directoryFinalPath,
                           const std::wstring& name, std::wstring* finalPath = nullptr);
