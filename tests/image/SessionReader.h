// Puts a reader in as the session reader and opens it the way the program does, so that the
// session's disk size comes from what the reader declares.
#pragma once

#include <memory>
#include <string>

#include "common/Session.h"
#include "image/ReaderFactory.h"

namespace vindaru::test {

template <typename Reader>
Reader* openAsSessionReader(Session& session, std::unique_ptr<Reader> reader, const std::string& path,
                            bool* opened = nullptr) {
    Reader* raw = reader.get();
    session.replaceReader(std::move(reader));
    const bool ok = openSessionReader(session, path);
    if (opened) *opened = ok;
    return raw;
}

} // namespace vindaru::test
