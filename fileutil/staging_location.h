#pragma once

#include <string>
#include <vector>

#include "fileutil/held_directory.h"
#include "fileutil/long_path.h"

// Where an update is staged, parsed once from the path the caller gives
// (prepare's argument, or install mode's own directory): every later step
// takes this value, never the string again.
class StagingLocation {
 public:
  StagingLocation() = default;

  // Parses `path`: a leading "\\?\" is removed ("\\?\UNC\" becomes "\\")
  // and one backslash appended, the form the scheduled command names it
  // by. False unless that names a directory below a drive root ("X:\...")
  // or a share ("\\server\share\...", the server neither "." nor "?"), not
  // the root itself, with no component that is "." or "..". What else a
  // component may hold is the caller's rule (below()).
  static bool Parse(const std::wstring& path, StagingLocation* location);

  // As the caller named it, with one backslash appended ("C:\stage\").
  const std::wstring& display() const { return display_; }
  // "\\?\X:\..." or "\\?\UNC\server\share\...", with no doubled or trailing
  // backslash and no short name expanded.
  const std::wstring& longForm() const { return longForm_; }
  RootKind rootKind() const { return rootKind_; }
  // The part below the root, as the caller named it.
  const std::wstring& below() const { return below_; }

  // Whether its drive is there at logon and at the restart, when a
  // scheduled command and the deletions name it: not a SUBST letter (the
  // system names it as another path, "\??\..."), nor a network or
  // removable drive. A share is judged by the caller.
  bool IsOnAFixedDrive() const;

  // Opens the directory as a held root, first making it, with its missing
  // parents, where `create` asks. Its parents are the caller's choice: a
  // link among them is followed.
  OpenOutcome Hold(bool create, HeldDirectory* held) const;

 private:
  std::wstring display_;
  std::wstring longForm_;
  std::wstring below_;
  RootKind rootKind_ = RootKind::None;
};
