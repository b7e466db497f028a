#include "support/server/test_certs.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <vector>

namespace zorvik::test {

namespace {

struct PkeyDeleter final {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct X509Deleter final {
    void operator()(X509* x) const { X509_free(x); }
};
struct X509ExtDeleter final {
    void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
};
struct FileCloser final {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;
using Cert = std::unique_ptr<X509, X509Deleter>;
using Ext = std::unique_ptr<X509_EXTENSION, X509ExtDeleter>;
using File = std::unique_ptr<std::FILE, FileCloser>;

// P-256 keys: quick to make, accepted at OpenSSL's default security level.
Pkey make_key() {
    return Pkey(EVP_EC_gen("P-256"));
}

bool add_extension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    Ext ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

struct CertRequest final {
    const char* common_name;
    const char* alt_names; // nullptr for the CA
    long not_before_seconds;
    long not_after_seconds;
    bool is_ca;
};

// Signs with `issuer_key` as `issuer`, or self-signs when issuer is null.
Cert make_cert(const CertRequest& req, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key) {
    static std::atomic<long> serial{1000};
    Cert cert(X509_new());
    if (!cert) {
        return nullptr;
    }
    X509* x = cert.get();
    bool ok = X509_set_version(x, 2) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(x), serial.fetch_add(1)) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(x), req.not_before_seconds) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(x), req.not_after_seconds) != nullptr &&
              X509_set_pubkey(x, key) == 1;
    X509_NAME* name = X509_get_subject_name(x);
    ok = ok && name != nullptr &&
         X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>("Zorvik tests"), -1, -1,
                                    0) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(req.common_name), -1, -1,
                                    0) == 1;
    X509* signer = issuer != nullptr ? issuer : x;
    ok = ok && X509_set_issuer_name(x, X509_get_subject_name(signer)) == 1;
    if (req.is_ca) {
        ok = ok && add_extension(x, signer, NID_basic_constraints, "critical,CA:TRUE") &&
             add_extension(x, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && add_extension(x, signer, NID_basic_constraints, "critical,CA:FALSE") &&
             add_extension(x, signer, NID_key_usage, "critical,digitalSignature") &&
             add_extension(x, signer, NID_ext_key_usage, "serverAuth") &&
             add_extension(x, signer, NID_subject_alt_name, req.alt_names);
    }
    ok = ok && add_extension(x, signer, NID_subject_key_identifier, "hash");
    if (issuer != nullptr) {
        ok = ok && add_extension(x, signer, NID_authority_key_identifier, "keyid:always");
    }
    ok = ok && X509_sign(x, issuer_key != nullptr ? issuer_key : key, EVP_sha256()) > 0;
    return ok ? std::move(cert) : nullptr;
}

bool write_cert(const std::filesystem::path& path, X509* cert) {
    File f(std::fopen(path.c_str(), "wb"));
    return f && PEM_write_X509(f.get(), cert) == 1;
}

bool write_key(const std::filesystem::path& path, EVP_PKEY* key) {
    File f(std::fopen(path.c_str(), "wb"));
    return f && PEM_write_PrivateKey(f.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
}

constexpr long kDay = 24L * 3600L;
constexpr const char* kLocalNames = "IP:127.0.0.1,DNS:localhost";

struct Holder final {
    TempDir dir{"zorvik-certs-"};
    TestCertificates certs;
};

void build(Holder& h) {
    TestCertificates& c = h.certs;
    if (!h.dir.ok()) {
        c.error = "cannot make a temporary folder";
        return;
    }
    const auto& dir = h.dir.path();
    Pkey ca_key = make_key();
    Pkey leaf_key = make_key();
    Pkey self_key = make_key();
    if (!ca_key || !leaf_key || !self_key) {
        c.error = "cannot make keys";
        return;
    }
    Cert ca = make_cert({"Zorvik Test CA", nullptr, -kDay, 30 * kDay, true}, ca_key.get(), nullptr,
                        nullptr);
    if (!ca) {
        c.error = "cannot make the CA certificate";
        return;
    }
    Cert trusted = make_cert({"127.0.0.1", kLocalNames, -kDay, 30 * kDay, false}, leaf_key.get(),
                             ca.get(), ca_key.get());
    Cert self_signed = make_cert({"127.0.0.1", kLocalNames, -kDay, 30 * kDay, false},
                                 self_key.get(), nullptr, nullptr);
    Cert expired = make_cert({"127.0.0.1", kLocalNames, -3 * kDay, -kDay, false}, leaf_key.get(),
                             ca.get(), ca_key.get());
    Cert wrong_host =
        make_cert({"wrong-host.invalid", "DNS:wrong-host.invalid", -kDay, 30 * kDay, false},
                  leaf_key.get(), ca.get(), ca_key.get());
    if (!trusted || !self_signed || !expired || !wrong_host) {
        c.error = "cannot make the server certificates";
        return;
    }
    c.ca_file = (dir / "ca.pem").string();
    const auto leaf_key_file = (dir / "server-key.pem").string();
    const auto self_key_file = (dir / "self-signed-key.pem").string();
    c.trusted = {(dir / "trusted.pem").string(), leaf_key_file};
    c.self_signed = {(dir / "self-signed.pem").string(), self_key_file};
    c.expired = {(dir / "expired.pem").string(), leaf_key_file};
    c.wrong_host = {(dir / "wrong-host.pem").string(), leaf_key_file};
    const bool written = write_cert(c.ca_file, ca.get()) &&
                         write_key(leaf_key_file, leaf_key.get()) &&
                         write_key(self_key_file, self_key.get()) &&
                         write_cert(c.trusted.cert_file, trusted.get()) &&
                         write_cert(c.self_signed.cert_file, self_signed.get()) &&
                         write_cert(c.expired.cert_file, expired.get()) &&
                         write_cert(c.wrong_host.cert_file, wrong_host.get());
    if (!written) {
        c.error = "cannot write the PEM files";
        return;
    }
    c.ok = true;
}

} // namespace

TempDir::TempDir(const std::string& prefix) {
    std::error_code ec;
    auto base = std::filesystem::temp_directory_path(ec);
    if (ec) {
        base = "/tmp";
    }
    std::string templ = (base / (prefix + "XXXXXX")).string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) != nullptr) {
        path_ = buf.data();
    }
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

const CertKeyFiles& TestCertificates::files(ServerCert which) const {
    switch (which) {
    case ServerCert::SelfSigned:
        return self_signed;
    case ServerCert::Expired:
        return expired;
    case ServerCert::WrongHost:
        return wrong_host;
    case ServerCert::Trusted:
        break;
    }
    return trusted;
}

const char* server_cert_name(ServerCert which) {
    switch (which) {
    case ServerCert::Trusted:
        return "Trusted";
    case ServerCert::SelfSigned:
        return "SelfSigned";
    case ServerCert::Expired:
        return "Expired";
    case ServerCert::WrongHost:
        return "WrongHost";
    }
    return "?";
}

const TestCertificates& test_certificates() {
    // Function-local static: made on first use, folder removed at exit.
    static Holder holder;
    static std::once_flag once;
    std::call_once(once, [] { build(holder); });
    return holder.certs;
}

} // namespace zorvik::test
