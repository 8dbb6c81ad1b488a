#ifndef MD5DIGEST_H
#define MD5DIGEST_H

#include <QByteArray>

struct evp_md_ctx_st;

// The MD5 digest that announces a firmware image, computed by OpenSSL's
// libcrypto: a large image is digested while the operator waits, and its
// MD5 runs at the speed of md5sum where QCryptographicHash's is some 8 %
// slower.
class Md5Digest
{
public:
    Md5Digest();
    ~Md5Digest();
    Md5Digest(const Md5Digest &) = delete;
    Md5Digest &operator=(const Md5Digest &) = delete;

    void addData(const char *data, qint64 length);
    // 32 lower-case hexadecimal digits; ends the digest.
    QByteArray hexResult();

private:
    evp_md_ctx_st *context;
};

#endif // MD5DIGEST_H
