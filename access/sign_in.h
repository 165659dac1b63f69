/// @file sign_in.h
/// @brief Who may see a search and its pages: the built-in account, or a
/// user whose request carries a valid permit key. The one rule both the
/// query program and the page renderer apply.

#ifndef SEARCHRUN_ACCESS_SIGN_IN_H
#define SEARCHRUN_ACCESS_SIGN_IN_H

#include <string>

// The built-in account that searches without a permit.
constexpr const char* kBuiltInUser = "TESSERA";

// The client address sent too many wrong keys lately: no key is checked
// until its back-off ends (sign_in_backoff.h).
constexpr int kPermitBackedOff = -20;

struct SignInResult {
  // 0 admitted; otherwise the permit check's refusal: PERMIT_ERR_KEY_INVALID
  // (-1), PERMIT_ERR_KEY_TIMEOUT (-3), kPermitNoKey (-10, no key at all) or
  // kPermitBackedOff.
  int result = 0;
  // The key that admitted the user, and whether it came as a request
  // variable (the page then hands it on as a cookie); empty for the built-in
  // account.
  std::string key;
  bool keyFromRequest = false;
};

// Admits `user`: the built-in account always; anyone else with a valid
// permit (cookie_permit.h, idle at most `loginTimeoutSeconds`), whose key
// comes from the request variable "ks_key" (`requestKey`) or, when that is
// absent or not valid, from the cookie "ks_key" (`cookieKey`); null means
// absent. When neither admits, the request key's refusal is answered (the
// cookie's when the request carries none).
//
// With a `clientAddress` (the request's REMOTE_ADDR), every wrong or timed
// out key counts against that address in the permit directory's back-off
// records, and an address in back-off is refused (kPermitBackedOff) before
// any key is looked at, a right one included: otherwise the guessing would
// simply go on. A right key never clears the count, or a user with a permit
// of their own could interleave it with guesses.
SignInResult checkSignIn(const char* user, const char* requestKey, const char* cookieKey,
                         unsigned loginTimeoutSeconds, const char* clientAddress = nullptr);

#endif  // SEARCHRUN_ACCESS_SIGN_IN_H
