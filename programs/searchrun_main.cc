/// @file searchrun_main.cc
/// @brief Entry of the CGI query program: one process serves one search request.

#include "front/search_run.h"

int main(int argc, char** argv) { return searchrunMain(argc, argv); }
