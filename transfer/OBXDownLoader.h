#pragma once
// The downloader: brings one file of a task into the update folder, trying the
// task's download types ("http", "p2p") in order. A copy already in the folder
// counts when its MD5 matches (and its SHA-256, when one is expected); any
// other copy is deleted first. A transferred file counts only when its digests
// match the expected texts; otherwise it is deleted and the next type is tried.
// An empty expected SHA-256 checks the MD5 only.
//
// Threads: the worker thread only; one object lives for one DownLoadFile call.
// Logging: channel "OBXConsole", source "OBXDownLoader".
// Exceptions: those of the service lookup ("Null runtime context.", "Can't
// cast service to the specified type, please check the config.") leave to
// the caller; those of the transfer services are caught and become -120/-130.
#include <string>

#include "orsa/INet.h"

namespace obx {

// Result codes of one attempt (DownLoadByType).
constexpr int kDownloadOk = 1;                 // the file is in the update folder
constexpr int kDownloadUnknownType = -2;       // "ftp", or a name other than "http" and "p2p"
constexpr int kDownloadNothingDone = -101;     // no service, no transfer, or a refused name
constexpr int kDownloadHttpException = -120;   // the HTTP service threw
constexpr int kDownloadP2pException = -130;    // the peer-to-peer service threw
constexpr int kDownloadDigestMismatch = -140;  // transferred, but not the expected content
// Any other value is the transfer service's own code, passed through.

class OBXDownLoader {
 public:
  // Reads the update folder: FileSavedPath, or the task runner's default
  // (install folder + "\download") when that is empty.
  OBXDownLoader();

  // Tries the ";"-separated types in order until one gives 1; then stores that
  // type in `usedType` and answers 1. Otherwise answers -101 and leaves
  // `usedType` as it was. An empty list tries nothing. A quit request of the
  // worker ends the list early.
  int DownLoadByTypeList(const std::string& url, const std::string& typeList,
                         const std::string& fileName, const std::string& md5, std::string& usedType,
                         const std::string& sha256 = "");
  // One attempt with one type; the codes above.
  int DownLoadByType(const std::string& url, const std::string& type, const std::string& fileName,
                     const std::string& md5, const std::string& sha256 = "");
  // Through the host's IDownloader, from the download server's address
  // (ServiceUrl\DOWNLOAD: schema "://" server [":" port] QuorUpdatesRepair "/" url).
  // When the host verifies as it writes (IVerifiedDownloader) the transfer is
  // bounded by the settings and `digests` (when given) receives the file's
  // digests; otherwise they stay empty.
  int HttpDownLoad(const std::string& url, const std::string& savePath,
                   orsa::net::FileDigests* digests = nullptr);
  // Through the host's IP2pDownload, which stores into the same folder.
  int P2pDownLoad(const std::string& md5, const std::string& fileName);

  const std::string& SaveFileDir() const { return saveFileDir; }

 private:
  // A copy at `savePath`: true when it matches the digests and so counts as
  // downloaded. Any other copy is deleted; `removed` is false when it stays.
  bool KeepMatchingCopy(const std::string& savePath, const std::string& md5,
                        const std::string& sha256, bool& removed);
  // After a transfer that reported 1: the file must be there with the
  // digests; `known` holds them when they were computed while it was written.
  int CheckTransferred(const std::string& savePath, const std::string& md5,
                       const std::string& sha256, const orsa::net::FileDigests& known);

  std::string saveFileDir;
};

// The task runner's entry: one OBXDownLoader for one file; true exactly when
// the file is in the update folder. `usedType` receives the type that brought it.
bool DownLoadFile(const std::string& url, const std::string& typeList, const std::string& fileName,
                  std::string md5, std::string& usedType, const std::string& sha256 = "");

// True for a name that stays inside the update folder and that every system
// can hold: not empty, not "." or "..", without "/", "\", the other characters
// Windows forbids in names (< > : " | ? *) and control characters.
bool IsSafeFileName(const std::string& fileName);

// The bounds of an HTTP transfer, from the settings above.
orsa::net::DownloadLimits ReadDownloadLimits();

}  // namespace obx
