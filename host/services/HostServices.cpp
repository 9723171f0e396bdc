#include "host/services/HostServices.h"

#include <boost/make_shared.hpp>

#include "host/services/CurlHold.h"
#include "host/services/Downloader.h"
#include "host/services/SdoHelper.h"
#include "host/services/SecurityHelper.h"
#include "host/services/WebServiceInvoker.h"
#include "host/services/ZipHelper.h"

namespace orsahost {

void RegisterHostServices(RuntimeContext& context, orsa::ILogManagerPtr logs) {
  context.registerObject("orsa.security", {orsa::security::ISecurityHelper::kTypeName},
                         boost::make_shared<SecurityHelper>());
  context.registerObject("orsa.zip", {orsa::zip::IZipHelper::kTypeName},
                         boost::make_shared<ZipHelper>());
  context.registerObject("orsa.sdo", {orsa::sdo::ISdoHelper::kTypeName},
                         boost::make_shared<SdoHelper>());
  context.registerObject(
      "orsa.ws",
      {orsa::ws::IWebServiceInvoker::kTypeName, orsa::ws::IWebServiceExchange::kTypeName},
      boost::make_shared<WebServiceInvoker>());
  DownloaderOptions download;
  download.logs = std::move(logs);
  context.registerObject(
      "orsa.download",
      {orsa::net::IDownloader::kTypeName, orsa::net::IVerifiedDownloader::kTypeName},
      boost::make_shared<Downloader>(std::move(download)));
  context.registerObject("orsa.httphold", {orsa::net::IHttpClientHold::kTypeName},
                         boost::make_shared<CurlHold>());
}

}  // namespace orsahost
