// The chain opener over layers that are nothing but maps: which layer a read reaches, what is
// refused (missing or mismatched parents, loops, depth), and reading as of an older layer.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "common/Session.h"
#include "image/ImageChain.h"
#include "image/ReadOnlyFile.h"

namespace vindaru {
namespace {

constexpr std::uint64_t kBlock = 4096;

// A layer that holds chosen 4 KiB blocks, each filled with one byte value, and defers the rest.
struct LayerPlan {
    std::uint64_t size = 16 * kBlock;
    std::string id;
    std::optional<ParentLink> link;
    std::map<std::uint64_t, std::uint8_t> held;
};

class FakeLayer : public readWriteInterface {
  public:
    explicit FakeLayer(LayerPlan plan) : plan_(std::move(plan)) {}
    bool open(const std::string&) override { return true; }
    std::uint64_t capacity() const override { return plan_.size; }
    std::optional<ParentLink> parentLink() const override { return plan_.link; }
    std::string layerId() const override { return plan_.id; }
    std::string kindText() const override { return "fake"; }

  protected:
    bool readRange(std::uint64_t offset, std::span<std::uint8_t> out, ReadReport* report) const override {
        bool ok = true;
        while (!out.empty()) {
            const std::uint64_t block = offset / kBlock;
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), kBlock - offset % kBlock));
            if (auto it = plan_.held.find(block); it != plan_.held.end())
                std::fill_n(out.begin(), n, it->second);
            else
                ok = readFromParent(offset, out.first(n), report) && ok;
            offset += n;
            out = out.subspan(n);
        }
        return ok;
    }

  private:
    LayerPlan plan_;
};

class ImageChainTest : public ::testing::Test {
  protected:
    void add(const std::string& path, LayerPlan plan) {
        files_.add(path, std::span<const std::uint8_t>(dummy_, 1));
        plans_[path] = std::move(plan);
    }
    ParentLink linkTo(const std::string& path, const std::string& id) { return {{path}, id, ""}; }

    // Opens `top` through the chain; the reader, or null with `message` set.
    std::unique_ptr<readWriteInterface> open(const std::string& top, ChainOptions options = {},
                                             std::string* message = nullptr) {
        chain_ = std::make_unique<ImageChain>(session_, std::move(options));
        chain_->makeReader = [this](const std::string& path, const std::string&) -> std::unique_ptr<readWriteInterface> {
            auto it = plans_.find(path);
            if (it == plans_.end()) return nullptr;
            return std::make_unique<FakeLayer>(it->second);
        };
        std::unique_ptr<readWriteInterface> reader = std::make_unique<FakeLayer>(plans_.at(top));
        reader->memoryFiles = &files_;
        const bool ok = chain_->follow(reader, top);
        if (message) *message = chain_->message();
        return ok ? std::move(reader) : nullptr;
    }

    static std::uint8_t byteAt(const readWriteInterface& r, std::uint64_t block, ReadReport* report = nullptr) {
        std::uint8_t b = 0xEE;
        r.readAt(block * kBlock + 7, std::span<std::uint8_t>(&b, 1), report);
        return b;
    }

    Session session_;
    MemoryFiles files_;
    std::map<std::string, LayerPlan> plans_;
    std::unique_ptr<ImageChain> chain_;
    std::uint8_t dummy_[1] = {0};
};

TEST_F(ImageChainTest, EachReadComesFromTheNearestLayerThatHoldsIt) {
    add("/d/base", {16 * kBlock, "id0", std::nullopt, {{0, 0xA0}, {1, 0xA1}, {2, 0xA2}}});
    add("/d/mid", {16 * kBlock, "id1", linkTo("base", "id0"), {{1, 0xB1}}});
    add("/d/top", {16 * kBlock, "id2", linkTo("mid", "ID1"), {{2, 0xC2}}});
    auto reader = open("/d/top");
    ASSERT_TRUE(reader) << chain_->message();
    EXPECT_EQ(byteAt(*reader, 0), 0xA0);
    EXPECT_EQ(byteAt(*reader, 1), 0xB1);
    EXPECT_EQ(byteAt(*reader, 2), 0xC2);
    ReadReport report;
    EXPECT_EQ(byteAt(*reader, 9, &report), 0);
    EXPECT_EQ(report.holeBytes(), 1u); // nobody holds it: a real hole
    EXPECT_FALSE(report.damaged());

    ASSERT_EQ(chain_->layers().size(), 3u);
    EXPECT_EQ(chain_->layers()[0].path, "/d/base");
    EXPECT_EQ(chain_->layers()[2].id, "id2");
    EXPECT_EQ(chain_->layerUsed(), 2u);
    const auto lines = chainLines(chain_->layers(), chain_->layerUsed());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("* 2  /d/top", 0), 0u) << lines[0];

    // As of the middle layer: the top's writes are gone, the rest stays.
    auto older = open("/d/top", ChainOptions{1, false, {}});
    ASSERT_TRUE(older);
    EXPECT_EQ(byteAt(*older, 1), 0xB1);
    EXPECT_EQ(byteAt(*older, 2), 0xA2);
    EXPECT_EQ(chain_->layerUsed(), 1u);
    std::string message;
    EXPECT_FALSE(open("/d/top", ChainOptions{3, false, {}}, &message));
    EXPECT_NE(message.find("no layer 3"), std::string::npos) << message;
}

TEST_F(ImageChainTest, AMissingParentIsRefusedUnlessAllowedAndThenItsRangesAreUnreadable) {
    add("/d/child", {16 * kBlock, "c", linkTo("gone.img", "p-id"), {{3, 0x33}}});
    std::string message;
    EXPECT_FALSE(open("/d/child", {}, &message));
    EXPECT_NE(message.find("child"), std::string::npos) << message;
    EXPECT_NE(message.find("gone.img"), std::string::npos) << message;
    EXPECT_NE(message.find("p-id"), std::string::npos) << message;

    auto alone = open("/d/child", ChainOptions{std::nullopt, true, {}});
    ASSERT_TRUE(alone);
    EXPECT_TRUE(chain_->readWithoutParent());
    EXPECT_TRUE(chain_->layers().front().missing);
    EXPECT_EQ(byteAt(*alone, 3), 0x33);
    ReadReport report;
    std::vector<std::uint8_t> all(16 * kBlock);
    EXPECT_FALSE(alone->readAt(0, all, &report));
    EXPECT_EQ(report.unreadableBytes(), 15 * kBlock);
    EXPECT_EQ(report.unreadableRanges().front().reason, Damage::MissingParent);
    // The layer of the missing parent itself cannot be chosen.
    EXPECT_FALSE(open("/d/child", ChainOptions{0, true, {}}, &message));
}

TEST_F(ImageChainTest, AParentWithAnotherIdIsRefusedAndANamedParentIsTriedFirst) {
    add("/d/old", {16 * kBlock, "not-it", std::nullopt, {}});
    add("/d/right", {16 * kBlock, "p-id", std::nullopt, {{0, 0x11}}});
    add("/d/child", {16 * kBlock, "c", linkTo("old", "p-id"), {}});
    std::string message;
    EXPECT_FALSE(open("/d/child", {}, &message));
    EXPECT_NE(message.find("not-it"), std::string::npos) << message;
    EXPECT_NE(message.find("p-id"), std::string::npos) << message;

    auto reader = open("/d/child", ChainOptions{std::nullopt, false, {"/d/right"}});
    ASSERT_TRUE(reader) << chain_->message();
    EXPECT_EQ(byteAt(*reader, 0), 0x11);
}

TEST_F(ImageChainTest, LoopsAndChainsDeeperThanTheCapAreRefused) {
    add("/d/a", {16 * kBlock, "a", linkTo("b", ""), {}});
    add("/d/b", {16 * kBlock, "b", linkTo("/d/a", ""), {}});
    std::string message;
    EXPECT_FALSE(open("/d/a", ChainOptions{std::nullopt, true, {}}, &message));
    EXPECT_NE(message.find("loop"), std::string::npos) << message;

    for (std::size_t i = 0; i <= kMaxChainDepth; ++i)
        add("/d/l" + std::to_string(i), {16 * kBlock, "", linkTo("l" + std::to_string(i + 1), ""), {}});
    add("/d/l" + std::to_string(kMaxChainDepth + 1), {16 * kBlock, "", std::nullopt, {}});
    EXPECT_FALSE(open("/d/l0", ChainOptions{std::nullopt, true, {}}, &message));
    EXPECT_NE(message.find("deeper"), std::string::npos) << message;
}

TEST_F(ImageChainTest, ASmallerParentEndsInAHoleAndTheDamageMapSeesThroughHeldRanges) {
    add("/d/base", {4 * kBlock, "p", std::nullopt, {{0, 1}}});
    add("/d/top", {16 * kBlock, "t", linkTo("base", "p"), {}});
    auto reader = open("/d/top");
    ASSERT_TRUE(reader);
    ReadReport report;
    std::vector<std::uint8_t> tail(8 * kBlock);
    EXPECT_TRUE(reader->readAt(2 * kBlock, tail, &report));
    EXPECT_FALSE(report.damaged());
    EXPECT_EQ(report.holeBytes(), 8 * kBlock);
    EXPECT_TRUE(chainDamage(*reader).empty());
    EXPECT_EQ(damageSummary({{0, 64u << 20, RangeKind::Unreadable, Damage::MissingParent},
                             {1u << 30, 1, RangeKind::Unreadable, Damage::PastEndOfFile}}),
              "2 ranges unreadable, 64.0 MB");
}

} // namespace
} // namespace vindaru
