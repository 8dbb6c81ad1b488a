#ifndef MD5DIGEST_H
#define MD5DIGEST_H

#include <QByteArray>
#include <QCryptographicHash>

#include <memory>

struct evp_md_ctx_st;

// The MD5 digest that announces a firmware image. A large image is digested
// while the operator waits, and OpenSSL's libcrypto runs at the speed of
// md5sum where QCryptographicHash's is some 8 % slower. A libcrypto that
// refuses MD5, as it does in FIPS mode, must not make every image look
// unreadable: the digest then falls back to Qt's own.
class Md5Digest
{
public:
    Md5Digest();
    ~Md5Digest();
    Md5Digest(const Md5Digest &) = delete;
    Md5Digest &operator=(const Md5Digest &) = delete;

    void addData(const char *data, qint64 length);
    // 32 lower-case hexadecimal digits; ends the digest. Empty when libcrypto
    // failed part way, after it had taken data that Qt's digest never saw.
    QByteArray hexResult();
    // Whether libcrypto computes this digest.
    bool usesOpenSsl() const { return context != nullptr; }

private:
    evp_md_ctx_st *context = nullptr;
    bool failed = false;
    std::unique_ptr<QCryptographicHash> fallback;
};

#endif // MD5DIGEST_H
