/// @file searchrun_mt_main.cc
/// @brief Entry of the threaded editions of the query program (the older
/// request front); one source, built once per edition.

#include "front/older_front.h"

int main(int argc, char** argv) {
  return searchrunOlderMain(argc, argv);
}
