// The program's version: the about box, the maintenance caption, --version and the Debian
// package (read by CMakeLists.txt) take it from here.
#pragma once

#define VARNEL_VERSION "3.74K"
