#pragma once
// The program's version, one number for the about window ("Version 3.1"),
// "vantor --version" and the build: it is the CMake project version, which
// the build hands in as VANTOR_VERSION.

#ifndef VANTOR_VERSION
#error "VANTOR_VERSION is set by the build (app/CMakeLists.txt)"
#endif

namespace vantor {

inline constexpr const char* ProgramVersion = VANTOR_VERSION;

}  // namespace vantor
