/// @file cgi_input.h
/// @brief Reading the raw CGI request from the environment and standard input,
/// shared by the request parser and the cookie/argument service.

#ifndef SEARCHRUN_CGI_CGI_INPUT_H
#define SEARCHRUN_CGI_CGI_INPUT_H

#include <cstddef>
#include <string>

// A POST body is never read beyond this many bytes, whatever CONTENT_LENGTH
// claims; the rest of the body is left unread.
constexpr size_t kMaxCgiBodyBytes = size_t(1) << 20;

// CONTENT_LENGTH read as a decimal number, limited to kMaxCgiBodyBytes.
// 0 when the variable is missing, has no digits, or is negative.
size_t cgiBodyLength();

// Reads from `fd` until `length` bytes have arrived, the input ends or a read
// fails (interrupted reads are retried). Returns the bytes read, which may be
// fewer than asked for.
std::string readCgiBody(int fd, size_t length);

// The text of a request as C code sees it: cut at the first zero byte.
std::string cutAtZero(const char* text, size_t length);

#endif  // SEARCHRUN_CGI_CGI_INPUT_H
