/// @file sign_in.cc
/// @brief The sign-in rule of searches and result pages.

#include "access/sign_in.h"

#include <cstring>
#include <ctime>

#include "access/cookie_permit.h"
#include "access/sign_in_backoff.h"

namespace {

// Checks one key; a refusal counts against the client address.
int checkKey(const char* user, const char* key, unsigned loginTimeoutSeconds,
             SignInBackoff& backoff, const char* clientAddress) {
  const int result = KS_CookiePermitCheck(user, key, loginTimeoutSeconds);
  if (result != PERMIT_ERR_KEY_VALID && result != kPermitNoKey)
    backoff.recordFailure(clientAddress, std::time(nullptr));
  return result;
}

}  // namespace

SignInResult checkSignIn(const char* user, const char* requestKey, const char* cookieKey,
                         unsigned loginTimeoutSeconds, const char* clientAddress) {
  SignInResult signIn;
  if (user != nullptr && std::strcmp(user, kBuiltInUser) == 0) return signIn;
  SignInBackoff backoff(kPermitDir);
  if ((requestKey != nullptr || cookieKey != nullptr) &&
      backoff.waitSeconds(clientAddress, std::time(nullptr)) > 0) {
    signIn.result = kPermitBackedOff;
    return signIn;
  }
  int requestResult = kPermitNoKey;
  if (requestKey != nullptr) {
    requestResult = checkKey(user, requestKey, loginTimeoutSeconds, backoff, clientAddress);
    if (requestResult == PERMIT_ERR_KEY_VALID) {
      signIn.key = requestKey;
      signIn.keyFromRequest = true;
      return signIn;
    }
  }
  const int cookieResult = checkKey(user, cookieKey, loginTimeoutSeconds, backoff, clientAddress);
  if (cookieResult == PERMIT_ERR_KEY_VALID) {
    signIn.key = cookieKey;
    return signIn;
  }
  signIn.result = requestKey != nullptr ? requestResult : cookieResult;
  return signIn;
}
