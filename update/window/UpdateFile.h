// What a download that carries the maker's signature must also be before it replaces the
// running program: a build of this program newer than the running one (an old release the
// maker once signed is not installed again), and a program this machine can run.
#pragma once

#include <string_view>

namespace vorn {

// True when a dotted version ("0.9.0.14") is strictly greater than current, component by
// component, missing ones counting as 0. A text that is not dotted decimal numbers is never
// newer.
bool IsNewerVersion(std::string_view candidate, std::string_view current);

// True when the program file's bytes carry a version record that names the same program as
// the running build's record (runningRecord) and a FileVersion strictly newer than it.
bool IsNewerBuildOf(std::string_view update, std::string_view runningRecord);

// True when the bytes are an ELF executable (a program or a position-independent one) of the
// class, byte order and machine of runningHeader, the first bytes of the running program.
bool IsProgramForMachine(std::string_view update, std::string_view runningHeader);

// The running build's version record and the first bytes of its file (/proc/self/exe), read
// once; empty when there is none.
std::string_view RunningVersionRecord();
std::string_view RunningProgramHeader();

}  // namespace vorn
