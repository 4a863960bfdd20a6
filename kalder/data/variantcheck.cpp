#include "variantcheck.h"

#include <QMetaType>
#include <QtEndian>

namespace {

constexpr int kMaxDepth = 32;
constexpr quint32 kNullLength = 0xFFFFFFFFu;

class Walker {
public:
    explicit Walker(const QByteArray& b) : bytes(b) {}

    bool map(int depth) {
        quint32 count;
        if (depth > kMaxDepth || !u32(count)) {
            return false;
        }
        for (quint32 i = 0; i < count; ++i) {
            if (!string() || !variant(depth + 1)) {
                return false;
            }
        }
        return true;
    }

private:
    bool take(qint64 n) {
        if (n < 0 || n > bytes.size() - pos) {
            return false;
        }
        pos += n;
        return true;
    }

    bool u32(quint32& value) {
        if (bytes.size() - pos < 4) {
            return false;
        }
        value = qFromBigEndian<quint32>(bytes.constData() + pos);
        pos += 4;
        return true;
    }

    // QString and QByteArray: a byte length (all ones for a null value), then the bytes.
    bool sized(bool evenOnly) {
        quint32 length;
        if (!u32(length)) {
            return false;
        }
        if (length == kNullLength) {
            return true;
        }
        return (!evenOnly || length % 2 == 0) && take(length);
    }

    bool string() { return sized(true); }

    bool list(int depth) {
        quint32 count;
        if (depth > kMaxDepth || !u32(count)) {
            return false;
        }
        for (quint32 i = 0; i < count; ++i) {
            if (!variant(depth + 1)) {
                return false;
            }
        }
        return true;
    }

    bool stringList() {
        quint32 count;
        if (!u32(count)) {
            return false;
        }
        for (quint32 i = 0; i < count; ++i) {
            if (!string()) {
                return false;
            }
        }
        return true;
    }

    bool variant(int depth) {
        quint32 type;
        if (!u32(type) || !take(1)) {  // type id, null flag
            return false;
        }
        switch (type) {
            case QMetaType::UnknownType:
                return true;
            case QMetaType::Bool:
            case QMetaType::Char:
            case QMetaType::SChar:
            case QMetaType::UChar:
                return take(1);
            case QMetaType::Short:
            case QMetaType::UShort:
            case QMetaType::QChar:
                return take(2);
            case QMetaType::Int:
            case QMetaType::UInt:
                return take(4);
            case QMetaType::LongLong:
            case QMetaType::ULongLong:
            case QMetaType::Double:
            case QMetaType::Float:  // written in double precision
                return take(8);
            case QMetaType::QString:
                return string();
            case QMetaType::QByteArray:
                return sized(false);
            case QMetaType::QStringList:
                return stringList();
            case QMetaType::QVariantList:
                return list(depth);
            case QMetaType::QVariantMap:
            case QMetaType::QVariantHash:
                return map(depth);
            default:
                return false;
        }
    }

    const QByteArray& bytes;
    qint64 pos = 0;
};

}  // namespace

bool isSerializedVariantMap(const QByteArray& bytes, int streamVersion) {
    // Older streams store variants differently; they never carried a settings map.
    if (streamVersion < 13) {
        return false;
    }
    return Walker(bytes).map(0);
}
