#include "common/Session.h"

#include "image/readWriteInterface.h"

namespace vindaru {

Session::Session() : messages(&nullMessages_) {}
Session::~Session() = default;

void Session::replaceReader(std::unique_ptr<readWriteInterface> reader) {
    sessionReader = std::move(reader);
}

void Session::clearReader() { sessionReader.reset(); }

} // namespace vindaru
