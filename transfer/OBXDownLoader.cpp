#include "transfer/OBXDownLoader.h"

#include <Poco/File.h>

#include <cstring>
#include <exception>
#include <vector>

#include "foundation/Digest.h"
#include "foundation/Log.h"
#include "foundation/ProgramFolder.h"
#include "foundation/Runtime.h"
#include "foundation/SettingsStore.h"
#include "foundation/StringUtil.h"
#include "orsa/INet.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/StopToken.h"

namespace obx {
namespace {

const char kChannel[] = "OBXConsole";
const char kSource[] = "OBXDownLoader";

// Poco reports failures as exceptions; here they only mean "not there" or
// "could not be removed".
bool Exists(const std::string& path) {
  try {
    return Poco::File(platform::NativePath(path)).exists();
  } catch (...) {
    return false;
  }
}

bool Remove(const std::string& path) {
  try {
    Poco::File(platform::NativePath(path)).remove(false);
  } catch (...) {
  }
  return !Exists(path);
}

// The address of `url` on the download server.
std::string DownloadAddress(const std::string& url) {
  std::string address = ReadRegString(HKLM, kDownloadServerKey, "schema") + "://" +
                        ReadRegString(HKLM, kDownloadServerKey, "server");
  uint32_t port = 0;
  // Without a stored port the scheme's own port applies.
  if (ReadRegDword(HKLM, kDownloadServerKey, "port", port)) address += ":" + std::to_string(port);
  return address + ReadRegString(HKLM, kDownloadServerKey, "QuorUpdatesRepair") + "/" + url;
}

}  // namespace

bool IsSafeFileName(const std::string& fileName) {
  if (fileName.empty() || fileName == "." || fileName == "..") return false;
  for (const char c : fileName) {
    // A quote would also end a quoted program path early on a command line.
    if (static_cast<unsigned char>(c) < 0x20 || std::strchr("/\\<>:\"|?*", c) != nullptr)
      return false;
  }
  return true;
}

orsa::net::DownloadLimits ReadDownloadLimits() {
  // 0 counts as absent: a bound of nothing would end every transfer or none.
  auto read = [](const char* name, uint32_t fallback) {
    uint32_t value = 0;
    return ReadRegDword(HKLM, kModuleKey, name, value) && value != 0 ? value : fallback;
  };
  orsa::net::DownloadLimits limits;
  limits.minBytesPerSecond = read("MinDownloadRate", 1024);
  limits.windowSeconds = read("MinDownloadRateSeconds", 60);
  limits.maxBytes = uint64_t{read("MaxDownloadMB", 2048)} << 20;
  return limits;
}

OBXDownLoader::OBXDownLoader() : saveFileDir(UpdateFolder()) {}

int OBXDownLoader::DownLoadByTypeList(const std::string& url, const std::string& typeList,
                                      const std::string& fileName, const std::string& md5,
                                      std::string& usedType, const std::string& sha256) {
  int result = kDownloadNothingDone;
  for (const std::string& type : SplitString(typeList, ";")) {
    // Stopping the worker: the next transfer would end at once anyway.
    if (platform::QuitRequested()) break;
    result = DownLoadByType(url, type, fileName, md5, sha256);
    if (result == kDownloadOk) {
      usedType = type;
      return kDownloadOk;
    }
  }
  return kDownloadNothingDone;
}

int OBXDownLoader::DownLoadByType(const std::string& url, const std::string& type,
                                  const std::string& fileName, const std::string& md5,
                                  const std::string& sha256) {
  OBX_INFO(kChannel, kSource, "DownLoad: type is " << type);
  if (type != "http" && type != "p2p") return kDownloadUnknownType;
  if (!IsSafeFileName(fileName)) {
    OBX_ERROR(kChannel, kSource, "DownLoad: refused file name \"" << fileName << "\"");
    return kDownloadNothingDone;
  }

  // Task programs run from this folder: it is made the system's own (and
  // created) before a copy in it is trusted or a new one stored.
  ProtectProgramFolder(saveFileDir);
  const std::string savePath = saveFileDir + "\\" + fileName;
  bool removed = true;
  if (KeepMatchingCopy(savePath, md5, sha256, removed)) return kDownloadOk;
  if (!removed) return kDownloadNothingDone;

  // Both transfers store into the folder; a fresh machine may not have it yet.
  platform::CreateDirectories(platform::NativePath(saveFileDir));
  orsa::net::FileDigests known;
  const int result =
      type == "http" ? HttpDownLoad(url, savePath, &known) : P2pDownLoad(md5, fileName);
  if (result != kDownloadOk) return result;
  return CheckTransferred(savePath, md5, sha256, known);
}

bool OBXDownLoader::KeepMatchingCopy(const std::string& savePath, const std::string& md5,
                                     const std::string& sha256, bool& removed) {
  removed = true;
  if (!Exists(savePath)) return false;
  // A copy that cannot be read is treated like one with another digest.
  if (FileMatchesDigests(savePath, md5, sha256)) return true;
  removed = Remove(savePath);
  if (!removed) OBX_ERROR(kChannel, kSource, "DownLoad: could not delete " << savePath);
  return false;
}

int OBXDownLoader::CheckTransferred(const std::string& savePath, const std::string& md5,
                                    const std::string& sha256,
                                    const orsa::net::FileDigests& known) {
  std::string mismatch;
  const bool match = known.md5.empty()
                         ? FileMatchesDigests(savePath, md5, sha256, &mismatch)
                         : DigestsMatch(known.md5, known.sha256, md5, sha256, &mismatch);
  if (match) return kDownloadOk;
  Remove(savePath);
  OBX_WARNING(kChannel, kSource, "DownLoad: " << savePath << " does not match its " << mismatch);
  return kDownloadDigestMismatch;
}

int OBXDownLoader::HttpDownLoad(const std::string& url, const std::string& savePath,
                                orsa::net::FileDigests* digests) {
  int result = kDownloadNothingDone;
  const std::string httpHost = DownloadAddress(url);
  boost::shared_ptr<orsa::net::IVerifiedDownloader> verified =
      getService<orsa::net::IVerifiedDownloader>();
  boost::shared_ptr<orsa::net::IDownloader> downloader =
      verified ? verified : getService<orsa::net::IDownloader>();
  if (!downloader) return result;
  try {
    OBX_INFO(kChannel, kSource, "DownLoad: http from: " << httpHost);
    orsa::net::FileDigests computed;
    result = verified
                 ? verified->downloadVerified(httpHost, savePath, ReadDownloadLimits(), computed)
                 : downloader->download(httpHost, savePath, 1, 0);
    if (digests && result == kDownloadOk) *digests = computed;
  } catch (const std::exception& e) {
    OBX_WARNING(kChannel, kSource, "Failed to access http host,error info:" << e.what());
    result = kDownloadHttpException;
  } catch (...) {
    OBX_WARNING(kChannel, kSource, "Failed to access http host,unknown exception.");
    result = kDownloadHttpException;
  }
  return result;
}

int OBXDownLoader::P2pDownLoad(const std::string& md5, const std::string& fileName) {
  OBX_INFO(kChannel, kSource, "P2P Get md5:" << md5 << "save path :" << fileName);
  int result = kDownloadNothingDone;
  boost::shared_ptr<orsa::net::IP2pDownload> p2p = getService<orsa::net::IP2pDownload>();
  if (!p2p) {
    OBX_ERROR(kChannel, kSource, "P2P composite service is null");
    return result;
  }
  try {
    result = p2p->download(md5, fileName, 0);
  } catch (const std::exception& e) {
    OBX_WARNING(kChannel, kSource, "Failed to access P2P host,error info:" << e.what());
    result = kDownloadP2pException;
  } catch (...) {
    OBX_WARNING(kChannel, kSource, "Failed to access P2P host,unknown exception.");
    result = kDownloadP2pException;
  }
  return result;
}

bool DownLoadFile(const std::string& url, const std::string& typeList, const std::string& fileName,
                  std::string md5, std::string& usedType, const std::string& sha256) {
  OBXDownLoader downloader;
  return downloader.DownLoadByTypeList(url, typeList, fileName, md5, usedType, sha256) ==
         kDownloadOk;
}

}  // namespace obx
