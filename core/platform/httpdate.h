#pragma once

// A moment as HTTP dates are written, "Sun, 06 Nov 1994 08:49:37 GMT", in English whatever the
// locale. Plain C++, so the score server and the desktop's download client write it the same way.

#include <ctime>
#include <string>

std::string httpdate(std::time_t when);
