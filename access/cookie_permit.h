/// @file cookie_permit.h
/// @brief Cookie permits: the small files in "../permit" that admit a
/// signed-in user's requests while the user stays active.

#ifndef SEARCHRUN_ACCESS_COOKIE_PERMIT_H
#define SEARCHRUN_ACCESS_COOKIE_PERMIT_H

#include <cstddef>
#include <ctime>
#include <functional>
#include <string>

// Results of the permit operations.
enum PERMIT_ERR {
  PERMIT_ERR_KEY_VALID = 0,     // valid; its file times have been refreshed
  PERMIT_ERR_KEY_INVALID = -1,  // no such permit, unreadable, another user's, or from the future
  PERMIT_ERR_KEY_TIMEOUT = -3,  // idle longer than the life time; the permit is gone
};
// Remove: the permit file does not exist.
constexpr int kPermitNoFile = -2;
// The request carries no "ks_key".
constexpr int kPermitNoKey = -10;

// Random decimal digits of a new key: about 99 bits, so that a key cannot be
// guessed in any number of requests. Keys issued before with 7 to 10 digits
// stay valid until they expire.
constexpr size_t kPermitKeyDigits = 30;
// Room for the longest answer of KS_CookiePermitCreate: "ks_key=", a key of
// 5 + kPermitKeyDigits characters and the terminator.
constexpr size_t kPermitAnswerSize = 7 + 5 + kPermitKeyDigits + 1;

// Default permit directory, relative to the CGI directory.
constexpr const char* kPermitDir = "../permit";
constexpr const char* kPermitHeader = "Kestrane Cookie Permit";

// True when key has the form of a permit key: 0 to 5 characters of
// [0-9A-Za-z_] (the encoded user prefix) followed by at least 7 decimal
// digits, 127 characters at most. Only such keys ever name a file, so a key
// from a request can never reach outside the permit directory.
bool permitKeyIsWellFormed(const char* key);

// Source of the digits of a new key: kPermitKeyDigits decimal digits, or ""
// when none can be drawn (no permit is made then). The default draws each
// digit from the system's random source.
using PermitDigitSource = std::function<std::string()>;
std::string permitRandomDigits();

// One permit file:
//   "Kestrane Cookie Permit"\n "KS_ID="<encoded id>\n "KS_KEY="<key>\n "KS_TYPE="<type>\n
//   "KS_USER="<exact user name, bytes up to 0x20, 0x7F and "%" as "%XX">\n
// (the last line only in permits written here).
// Every read and write of the file holds an exclusive advisory lock on it.
// Only a regular file owned by the account of the process and writable by
// nobody else is read: any other file could have been forged.
class CookiePermit {
 public:
  static constexpr size_t kFieldSize = 128;  // id and key: 127 characters and terminator
  static constexpr size_t kDirSize = 1024;

  CookiePermit();  // directory kPermitDir, all fields empty

  // False (directory unchanged) for a null or overlong directory.
  bool permitSetDir(const char* dir);
  // directory + "/" + key + ".ksp"
  std::string permitGenerateFilePath() const;

  // Parses permit file bytes (zero bytes allowed) into the fields. False,
  // fields emptied, unless the first line is exactly the header. Other lines
  // may come in any order; a missing line leaves its field empty (type 0);
  // values are cut to 127 characters.
  bool permitParse(const char* bytes, size_t size);
  // Names the exact user of the permits made and checked from now on: a new
  // permit stores it, and a check admits only a permit that stores the same
  // name. A permit without a stored name (as the sign-in side writes them)
  // admits the user only when the name is its own encoded id (letters,
  // digits and "_" only, at most 127 of them): a name the encoding changes
  // could be an alias of another's. Unset, only the encoded id is compared.
  void permitSetUser(const char* user);

  // Reads the file of the current key: 0, kPermitNoFile when it does not
  // exist, -1 when it cannot be read, is a link, no regular file, not the
  // server account's own or writable by others, or fails to parse.
  int permitReadFile();
  // Writes the fields to a new file of the current key (permissions 0600).
  // 0; 1 when a file of that key exists already (it is left alone); -1 on
  // any other failure (nothing is left behind).
  int permitWriteFile();

  // Issues a permit for an encoded user id: key = the first 5 characters of
  // the id and the drawn digits. A key already taken is drawn again (a few
  // times) instead of overwriting another permit. 0, or -1 for an empty id,
  // digits that do not make a well-formed key, or a file that cannot be
  // written.
  int permitCreate(const char* encodedId, int userType,
                   const PermitDigitSource& draw = permitRandomDigits);
  // Valid when the permit of key exists, reads and was issued to encodedId:
  // its times are refreshed and 0 answered; else -1.
  int permitCheck(const char* key, const char* encodedId);
  // The same, and a permit idle longer than lifeTime seconds (0: never) at
  // `now` is removed (-3). Idle time is measured from the later of the file's
  // last access and last status change; a permit used after `now` is -1.
  int permitCheck(const char* key, const char* encodedId, unsigned lifeTime, time_t now);
  // Deletes the permit: the unlink result (0/-1), kPermitNoFile when there is
  // no file, -1 when it cannot be read or belongs to another user.
  int permitRemove(const char* key, const char* encodedId);
  // The stored user type, or -1 as for the check (times not refreshed).
  int permitUserType(const char* key, const char* encodedId);

  const char* permitGetKey() const { return m_key; }
  const char* permitGetUserId() const { return m_userId; }
  int permitGetType() const { return m_type; }

 private:
  void clearFields();
  // Sets the key and reads its file; 0, kPermitNoFile, or -1 for a malformed
  // key, unreadable file or another user's permit.
  int permitLoad(const char* key, const char* encodedId);

  int m_type;
  std::string m_user;        // the exact user expected (encoded); "" when unset
  std::string m_plainUser;   // the user when the name is its own encoded id; else ""
  std::string m_storedUser;  // KS_USER of the file read
  bool m_hasStoredUser = false;
  char m_userId[kFieldSize];
  char m_key[kFieldSize];
  char m_dir[kDirSize];
};

// Deletes every regular file of dir whose name ends in ".ksp" and whose last
// access lies more than maxIdleSeconds before now. Returns the number
// deleted, or -1 when the directory cannot be read. Never changes the
// working directory.
int permitExpireDir(const char* dir, unsigned maxIdleSeconds, time_t now);

// The user name as it is stored in permits, into out (128 bytes): ASCII
// letters and digits stay, a byte of 0x80 or above becomes two upper-case hex
// digits, any other byte "_". At most 127 characters; a hex pair is never
// split. A null user gives "". Returns out.
char* KS_CookieEncodeUserId(const char* user, char* out);

// The component calls of the sign-in side and the request flow. `key` is the
// request's "ks_key" (nullptr when absent: kPermitNoKey); the permit
// directory is kPermitDir. Each stores or compares the exact user name
// (permitSetUser).
//
// Creates a permit and writes "ks_key=<key>" into out; returns out, or
// nullptr when user or out is missing, the user name is empty, outSize is
// below kPermitAnswerSize or the file cannot be written.
const char* KS_CookiePermitCreate(const char* user, char* out, size_t outSize, int userType);
int KS_CookiePermitCheck(const char* user, const char* key);
int KS_CookiePermitCheck(const char* user, const char* key, unsigned lifeTimeSeconds);
int KS_CookiePermitRemove(const char* user, const char* key);
int KS_CookiePermitGetUserType(const char* user, const char* key);
// permitExpireDir(kPermitDir, maxIdleSeconds, now).
int KS_CookiePermitExpire(unsigned maxIdleSeconds);

#endif  // SEARCHRUN_ACCESS_COOKIE_PERMIT_H
