#pragma once

// Shared by the fuzz targets: a scratch folder of the process (on /dev/shm
// when it exists, so the durable writes of the code under test stay cheap),
// and a check that stops the process with a readable line, so the same
// targets fail under libFuzzer and in the plain replay test alike.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {
// A folder that lives as long as the process.
const QString& scratchFolder();
// A path inside it.
QString scratchPath(const QString& name);
// Replaces the file at path with bytes.
void writeBytes(const QString& path, const QByteArray& bytes);
[[noreturn]] void fail(const char* what, const QString& detail);
} // namespace fuzz

#define FUZZ_CHECK(condition, detail)                                                                                  \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::fuzz::fail(#condition, (detail));                                                                        \
    } while (false)
