#pragma once

// Certificates for TLS tests, made at run time with OpenSSL so nothing checked in can expire.
//
// One test CA signs the server certificates. A test trusts that CA through
//     zorvik::set_ca_file_override(zorvik::test::test_certificates().ca_file);
// (src/platform/curl_transfer.h) and undoes it with set_ca_file_override(""); the guard
// TrustTestCa (support/trust_test_ca.h) does both.
// Every PEM file lives in a private temporary folder removed when the process ends.

#include <filesystem>
#include <string>

namespace zorvik::test {

// A temporary folder, removed with everything in it when the guard ends.
class TempDir final {
public:
    explicit TempDir(const std::string& prefix = "zorvik-test-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    bool ok() const { return !path_.empty(); }

private:
    std::filesystem::path path_;
};

// A certificate and its private key, as PEM files.
struct CertKeyFiles final {
    std::string cert_file;
    std::string key_file;
};

// Which certificate a TLS server presents.
enum class ServerCert {
    Trusted,    // for 127.0.0.1 and localhost, signed by the test CA, valid now
    SelfSigned, // for 127.0.0.1 and localhost, signed by nobody anyone trusts
    Expired,    // for 127.0.0.1 and localhost, signed by the test CA, expired yesterday
    WrongHost,  // for wrong-host.invalid only, signed by the test CA
};

struct TestCertificates final {
    bool ok = false;     // false when OpenSSL could not make them (tests should fail then)
    std::string error;   // why not
    std::string ca_file; // the test CA's certificate: what tests trust
    CertKeyFiles trusted;
    CertKeyFiles self_signed;
    CertKeyFiles expired;
    CertKeyFiles wrong_host;

    const CertKeyFiles& files(ServerCert which) const;
};

// "Trusted", "SelfSigned", ...: the enumerator's name, for test names and failure output.
const char* server_cert_name(ServerCert which);

// Made once per process, on first use; thread-safe.
const TestCertificates& test_certificates();

} // namespace zorvik::test
