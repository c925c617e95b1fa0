// Secure connections the transports refused: a certificate that failed the
// system's checks, or a redirect from HTTPS to plain HTTP. Such a failure
// is never retried (the same server gives the same certificate) and is told
// to the player in words, with the host, instead of as a download error.
// A handshake that broke off is told the same way once its retries are
// used up: it is retried like any connection reset.
#pragma once

#include <cstdint>
#include <string>

namespace tvl {


// Why a secure connection was refused, for a code the transports report
// (kHttpErrorCert*, kHttpErrorHttpsToHttp, kHttpErrorSecureChannel); empty
// for any other code.
std::string secureConnectionProblem(uint32_t code);

struct SecureRefusal {
  std::string host;
  uint32_t code = 0;
};

// Called by the transports for each refusal: keeps it as the last one and
// writes it to the support log.
void noteSecureRefusal(const std::string& host, uint32_t code);
// The last refusal of this process (code 0 when there was none).
SecureRefusal lastSecureRefusal();

}  // namespace tvl
