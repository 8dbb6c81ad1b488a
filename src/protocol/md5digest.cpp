#include "md5digest.h"

#include <openssl/evp.h>

Md5Digest::Md5Digest()
    : context(EVP_MD_CTX_new())
{
    if (context && EVP_DigestInit_ex(context, EVP_md5(), nullptr) == 1)
        return;
    EVP_MD_CTX_free(context);
    context = nullptr;
    fallback = std::make_unique<QCryptographicHash>(QCryptographicHash::Md5);
}

Md5Digest::~Md5Digest()
{
    EVP_MD_CTX_free(context);
}

void Md5Digest::addData(const char *data, qint64 length)
{
    if (length <= 0)
        return;
    if (fallback) {
        fallback->addData(QByteArray::fromRawData(data, int(length)));
        return;
    }
    if (EVP_DigestUpdate(context, data, size_t(length)) != 1)
        failed = true;
}

QByteArray Md5Digest::hexResult()
{
    if (fallback)
        return fallback->result().toHex();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (failed || EVP_DigestFinal_ex(context, digest, &length) != 1)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}
