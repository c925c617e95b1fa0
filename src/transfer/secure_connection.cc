#include "transfer/secure_connection.h"

#include <mutex>

#include "transfer/http.h"
#include "transfer/support_log.h"

namespace tvl {


std::string secureConnectionProblem(uint32_t code) {
  switch (code) {
    case kHttpErrorCertDate:
      return "its certificate has expired or is not valid yet";
    case kHttpErrorCertName:
      return "its certificate was issued for another name";
    case kHttpErrorCertAuthority:
      return "its certificate does not come from an authority this computer trusts";
    case kHttpErrorCertRevoked:
      return "its certificate was revoked";
    case kHttpErrorCertNoRevocation:
    case kHttpErrorCertRevocationFailed:
      return "its certificate could not be checked for revocation (or comes from an authority this computer "
             "does not trust)";
    case kHttpErrorCertErrors:
    case kHttpErrorCertInvalid:
      return "its certificate is not valid";
    case kHttpErrorSecureChannel:
      return "no secure connection could be set up with it";
    case kHttpErrorHttpsToHttp:
      return "it redirected the secure connection to plain HTTP";
    default:
      return "";
  }
}

namespace {

std::mutex refusalMutex;
SecureRefusal& lastRefusal() {
  static SecureRefusal* r = new SecureRefusal;
  return *r;
}

}  // namespace

void noteSecureRefusal(const std::string& host, uint32_t code) {
  {
    std::lock_guard<std::mutex> lock(refusalMutex);
    lastRefusal() = SecureRefusal{host, code};
  }
  supportLog().secureRefused(host, secureConnectionProblem(code), code);
}

SecureRefusal lastSecureRefusal() {
  std::lock_guard<std::mutex> lock(refusalMutex);
  return lastRefusal();
}

}  // namespace tvl
