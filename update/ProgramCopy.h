// Every issue file is a copy of this program. At start the program either hands over to a newer
// program copy installed in the versioned folders, or installs itself there (the program copy in
// the background, its skin, page data and reader movie at once) where the installation is older.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

class CIssueInfo;

// This build's number: the version it installs its components as and compares installed ones
// with.
inline constexpr int kBuildNumber = 2005;
// The program copy's file name in its versioned folder, and its Version.ini key.
inline constexpr char kProgramCopyName[] = "muravel.exe";
// The reader movie's file name, as installed and as its Version.ini key.
inline constexpr char kReaderMovieName[] = "read.swf";
// The name the locating side uses for the reader movie.
inline constexpr char kReaderMovieAlias[] = "Read.Swf";

// What a component resource holds.
enum class ResourceKind { Package, SingleFile };

// Which program file is installed and read (tests use other files than the running one).
struct ProgramCopyTunables {
  std::string programFile;  // its bytes become the program copy, its resources the components;
                            // empty: the running program file
};

// True to go on starting; false when a newer installed program copy was started and this
// process should end. `ownIssue` is the running program file's own issue record.
bool CheckReaderVersion(CIssueInfo& ownIssue, const ProgramCopyTunables& tunables = {});
// Installs the skin, the page data and the reader movie from the program file's resources, each
// unless a newer version is installed.
void ExtractSharedResources(const ProgramCopyTunables& tunables = {});
// Writes the MYDATA resource `id` of the program file: a package unpacked into the folder
// `target`, or a single file written to `target`. False when the resource is missing or could
// not be written completely.
bool ExtractResource(int id, std::string_view target, ResourceKind kind,
                     const ProgramCopyTunables& tunables = {});
// The copy worker: copies the program file to ExeFiles/2005/muravel.exe unless a copy is there,
// and records the version when the copy exists.
void InstallProgramCopy(const ProgramCopyTunables& tunables = {});
// Waits up to `timeout` for the copy worker that CheckReaderVersion started; true when none is
// running any more.
bool WaitForProgramCopy(std::chrono::milliseconds timeout);
// Writes the locating side's spelling of the reader movie beside `folder` + "read.swf" (file
// names differ in case here); true when both names hold the movie.
bool WriteReaderMovieAlias(std::string_view folder);
