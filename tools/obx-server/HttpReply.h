#pragma once
// What a handler answers: the status line and header fields, then either a
// body held in memory or a stream (a repository file) sent in pieces.
#include <Poco/Net/HTTPResponse.h>

#include <cstdint>
#include <istream>
#include <memory>
#include <string>

namespace obxserver {

struct HttpReply {
  // Status and fields; the front end sets the version, Content-Length for a
  // body in memory, and the Connection field.
  Poco::Net::HTTPResponse head;
  std::string body;
  // When set, `streamSize` bytes of it follow the head instead of `body`
  // (Content-Length is then set from `streamSize`).
  std::shared_ptr<std::istream> stream;
  uint64_t streamSize = 0;
  // The stream is sent at most this many bytes a second (0: as fast as the
  // client reads), without holding up other connections.
  uint64_t bytesPerSecond = 0;
  // HEAD: the fields describe the body, which is not sent.
  bool headOnly = false;
};

// A short plain-text answer ("not found", "request too large", ...).
inline HttpReply TextReply(Poco::Net::HTTPResponse::HTTPStatus status, const std::string& text) {
  HttpReply reply;
  reply.head.setStatusAndReason(status);
  reply.head.setContentType("text/plain; charset=utf-8");
  reply.body = text + "\n";
  return reply;
}

}  // namespace obxserver
