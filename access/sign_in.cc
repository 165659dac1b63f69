/// @file sign_in.cc
/// @brief The sign-in rule of searches and result pages.

#include "access/sign_in.h"

#include <cstring>

#include "access/cookie_permit.h"

SignInResult checkSignIn(const char* user, const char* requestKey, const char* cookieKey,
                         unsigned loginTimeoutSeconds) {
  SignInResult signIn;
  if (user != nullptr && std::strcmp(user, kBuiltInUser) == 0) return signIn;
  int requestResult = kPermitNoKey;
  if (requestKey != nullptr) {
    requestResult = KS_CookiePermitCheck(user, requestKey, loginTimeoutSeconds);
    if (requestResult == PERMIT_ERR_KEY_VALID) {
      signIn.key = requestKey;
      signIn.keyFromRequest = true;
      return signIn;
    }
  }
  const int cookieResult = KS_CookiePermitCheck(user, cookieKey, loginTimeoutSeconds);
  if (cookieResult == PERMIT_ERR_KEY_VALID) {
    signIn.key = cookieKey;
    return signIn;
  }
  signIn.result = requestKey != nullptr ? requestResult : cookieResult;
  return signIn;
}
