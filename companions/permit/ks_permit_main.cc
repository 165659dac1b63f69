/// @file ks_permit_main.cc
/// @brief Entry of the sign-in tool "ks_permit".

#include <cstdio>

#include "access/permit_tool.h"

int main(int argc, char** argv) {
  return permitToolRun(argc, argv, stdout, stderr);
}
