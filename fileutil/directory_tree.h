#pragma once

#include <string>

// An action applied to each path of a tree walk: the path is in long form;
// isDirectoryPass is true for a directory whose contents were walked.
using TreeAction = bool (*)(const std::wstring& path, bool isDirectoryPass);

// Creates a directory with every missing parent; true when it exists after.
bool CreateDirectoryTree(const std::wstring& path);

bool ApplyToTree(const std::wstring& root, TreeAction action, bool continueOnError);
bool WalkTree(const std::wstring& directory, TreeAction action, bool continueOnError);

// Registers one path for deletion at the next restart.
bool ScheduleDeleteOnReboot(const std::wstring& path, bool isDirectoryPass);
// Registers every file and directory of a tree, children first, for deletion
// at the next restart.
bool RemoveTreeOnReboot(const std::wstring& path);
