// What libvarnel exports: everything else in the library stays hidden.
#pragma once

#define VARNEL_API __attribute__((visibility("default")))
