// The shelf record of one issue or book, with the fields of the booklist format.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Download states of a shelf record (the values stored in the `down` element).
enum MagDownState : std::int32_t {
  kDownNone = 0,      // not downloading: new, stopped or failed
  kDownRunning = 1,   // downloading
  kDownComplete = 2,  // complete: the file is at savepath
  kDownWaiting = 3,   // waiting to be started
};

class CMagInfo {
 public:
  virtual ~CMagInfo() = default;

  std::string id;           // the server's record id
  std::string pid;          // the issue (product) id; the key of every list
  std::string sort_id;      // category id
  std::string class_id;     // class id from the server
  std::string brand_id;     // brand (publication) id from the server
  std::string feature;      // text from the server
  std::string name;         // title
  std::string date;         // issue date text
  std::string isFullSwf;    // flag text from the server
  std::string price;        // price text, handed to the reader
  std::string exe_size;     // size text of the issue file
  std::string load_url;     // URL of the issue file
  std::string pic1;         // cover picture URL, later the local cover path
  std::string s_pic;        // small picture URL
  std::string description;  // description text
  std::string rec_content;  // recommendation text
  std::string add_time;     // time the server added the record
  std::int32_t filelen = 0; // length of the issue file in bytes
  std::int32_t downlen = 0; // bytes downloaded so far
  std::int32_t down = kDownNone;  // download state (MagDownState)
  std::string type;         // "book" or "mag"
  std::string savepath;     // full path of the downloaded issue file
};

// Records are shared between the lists and the callers that hold them: a record stays alive as
// long as any list or caller keeps its pointer.
using MagInfoPtr = std::shared_ptr<CMagInfo>;
// One ordered list of records.
using MagList = std::vector<MagInfoPtr>;
