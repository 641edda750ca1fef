// The logged-in user's record, remembered in user.xml together with the client mode, and the
// process-wide client mode flag (1 enterprise "enter", 0 personal "user").
#pragma once

#include <string>
#include <string_view>

class CUserInfo {
 public:
  // The one record of the process.
  static CUserInfo& Instance();
  virtual ~CUserInfo() = default;

  // The client mode flag: 1 (the value at start) or 0.
  static int GetClientMode();
  // Sets the client mode flag; any value but 0 is taken as 1.
  static void SetClientMode(int mode);

  // Reads user.xml as raw bytes and parses it; false when nothing could be read.
  bool LoadUser(std::string_view path);
  // Takes the fields (and the client mode) from a user text; false without a `userInfo` root.
  bool ParseUserXml(std::string_view text);
  // Replaces user.xml atomically (owner-only mode, it holds the password); false on failure.
  bool SaveUser(std::string_view path) const;
  // The user.xml text of the record and the client mode.
  std::string FormatUserXml() const;
  // Empties every field (logoff); the client mode stays.
  void ClearUser();

  std::string userid;            // account id; empty when nobody is logged in
  std::string username;          // login name in the program's Base64 form
  std::string password;          // password as the login page passes it
  std::string email;             // carried
  std::string photo;             // carried
  std::string attention_count;   // carried
  std::string fans_count;        // carried
  std::string comment_count;     // carried
  std::string vip;               // set by the login pages
  std::string usertype;          // carried
  std::string ip;                // carried
  std::string district;          // carried
  std::string lastlogintime;     // carried
  std::string online;            // carried
  std::string rememberpassword;  // never set, never read back
  std::string autologin;         // set by the login pages; written, not read back
  std::string money;             // account balance text
};
