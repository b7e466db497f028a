#pragma once

// Trusts the test CA (test_certs.h) for the lifetime of the guard, then the system store again.

#include "platform/curl_transfer.h"
#include "support/server/test_certs.h"

namespace zorvik::test {

class TrustTestCa final {
public:
    TrustTestCa() { set_ca_file_override(test_certificates().ca_file); }
    ~TrustTestCa() { set_ca_file_override(""); }
    TrustTestCa(const TrustTestCa&) = delete;
    TrustTestCa& operator=(const TrustTestCa&) = delete;
};

} // namespace zorvik::test
