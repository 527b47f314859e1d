// Milliseconds since an arbitrary start, as GetTickCount64 counts them, on every Windows from
// XP on. Windows build only (tick_count_win32.cpp, which also stands in for the
// GetTickCount64 import of the thread library).
#pragma once

// From the performance counter: the stand-in where kernel32 has no GetTickCount64.
unsigned long long __stdcall VarnelTickCountFromCounter();

// kernel32's own GetTickCount64, looked up at run time; nullptr where there is none (XP).
using VarnelTickCountFn = unsigned long long(__stdcall*)();
VarnelTickCountFn VarnelSystemTickCount64();
