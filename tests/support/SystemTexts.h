#pragma once

// The program's own words that the suites expect, written once: box titles and texts, status panels
// and the window's title. Plain character arrays, for the Qt suites and the engine's alike.

namespace Texts {
inline constexpr char kTitle[] = "Zorvik! V1.0";
inline constexpr char kReady[] = "Ready";
inline constexpr char kFinished[] = "Finished:100%";
inline constexpr char kOpenTitle[] = "Open...";

// Box titles.
inline constexpr char kDone[] = "Mission Accomplished !";
inline constexpr char kWarning[] = "Warning!";
inline constexpr char kPrompting[] = "Prompting";

// Box texts.
inline constexpr char kAreYouSure[] = "Are you sure to shred file(s)?";
inline constexpr char kShredded[] = "The file has been shredded !";
inline constexpr char kAlreadyRunning[] = "This program is already running!";
inline constexpr char kInvalidFile[] = "The file you tried to shred is an invalid file.";
inline constexpr char kSelectFile[] = "Please select a file.";
inline constexpr char kSelectFiles[] = "Please select one or more files.";
inline constexpr char kDuplicates[] = "Duplicate files! ";
} // namespace Texts
