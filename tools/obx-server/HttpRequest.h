#pragma once
// One complete HTTP request as the front end hands it to a handler: the head
// parsed, the whole body read, both addresses of the connection.
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/SocketAddress.h>

#include <string>

namespace obxserver {

struct HttpRequest {
  Poco::Net::HTTPRequest head;      // method, target as sent, version, header fields
  std::string body;                 // exactly Content-Length bytes
  Poco::Net::SocketAddress client;  // the peer
  Poco::Net::SocketAddress server;  // the local end the client reached
};

}  // namespace obxserver
