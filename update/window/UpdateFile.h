// What a download that carries the maker's signature must also be before it replaces the
// running program: a build of this program newer than the running one (an old release the
// maker once signed is not installed again), and a program this machine can run.
#pragma once

#include <string>
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

// The FileVersion a version record gives; empty when it has none.
std::string FileVersionOf(std::string_view record);
// The FileVersion in a program file's bytes; empty when they carry no version record.
std::string FileVersionIn(std::string_view program);

// The new program's side of the update handshake ("--update-handshake FD"): without starting
// any window, checks that this build carries its version record and a usable update key, then
// writes "ready VERSION" and a line feed to FD. Returns the exit status: 0 once answered, 1
// (with a line on standard error) when it cannot.
int AnswerUpdateHandshake(const char* fd);

// The running build's version record and the first bytes of its file (/proc/self/exe), read
// once; empty when there is none.
std::string_view RunningVersionRecord();
std::string_view RunningProgramHeader();

}  // namespace vorn
