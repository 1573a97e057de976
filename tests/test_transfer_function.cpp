#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "StartupTransferFunction.h"
#include "TransferFunction.h"

namespace {
std::array<int, 4> Rgba(TransferFunction::Color c) { return {c.r, c.g, c.b, c.a}; }

// A plain reading of the curve: linear between the stored neighbours of x
// with the step from the left value truncated toward zero, the end values
// outside, 0 for an empty channel.
int ReferenceChannel(const std::vector<TransferFunction::Sample>& s, uint32_t x)
{
    if (s.empty()) {
        return 0;
    }
    if (x < s.front().position) {
        return s.front().value;
    }
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i].position > x) {
            const double step = double(x - s[i - 1].position) * (int(s[i].value) - int(s[i - 1].value)) /
                                double(s[i].position - s[i - 1].position);
            return s[i - 1].value + int(std::trunc(step));
        }
    }
    return s.back().value;
}
}  // namespace

TEST(TransferFunction, StartupFunctionEvaluatesAsDocumented)
{
    TransferFunction tf;
    FillStartupTransferFunction(tf);
    EXPECT_EQ(Rgba(tf.Evaluate(0)), (std::array<int, 4>{10, 0, 0, 0}));
    EXPECT_EQ(Rgba(tf.Evaluate(1)), (std::array<int, 4>{0, 2, 0, 0}));
    EXPECT_EQ(Rgba(tf.Evaluate(50)), (std::array<int, 4>{0, 127, 21, 2}));
    EXPECT_EQ(Rgba(tf.Evaluate(100)), (std::array<int, 4>{0, 255, 42, 5}));
    EXPECT_EQ(Rgba(tf.Evaluate(300)), (std::array<int, 4>{0, 128, 127, 15}));
    EXPECT_EQ(tf.SampleCount(0), 3u);
    EXPECT_EQ(tf.SampleCount(1), 4u);
    EXPECT_EQ(tf.SampleCount(2), 3u);
    EXPECT_EQ(tf.SampleCount(3), 4u);
}

TEST(TransferFunction, OutsideTheCurveHoldsTheEndValuesAndEmptyIsZero)
{
    TransferFunction tf;
    tf.AddSample(0, 40, 100);
    tf.AddSample(0, 90, 200);
    EXPECT_EQ(tf.Evaluate(0).r, 40);
    EXPECT_EQ(tf.Evaluate(99).r, 40);
    EXPECT_EQ(tf.Evaluate(200).r, 90);
    EXPECT_EQ(tf.Evaluate(0xFFFFFFFFu).r, 90);
    EXPECT_EQ(tf.Evaluate(150).g, 0);
    tf.Clear();
    EXPECT_EQ(Rgba(tf.Evaluate(1234)), (std::array<int, 4>{0, 0, 0, 0}));
}

TEST(TransferFunction, RandomFunctionsMatchAPlainEvaluation)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 300; ++round) {
        TransferFunction tf;
        for (int c = 0; c < 4; ++c) {
            const int n = int(random() % 7);
            for (int i = 0; i < n; ++i) {
                tf.AddSample(c, uint8_t(random() % 256), uint32_t(random() % 5000));
            }
        }
        for (int probe = 0; probe < 40; ++probe) {
            const uint32_t x = uint32_t(random() % 5200);
            const TransferFunction::Color got = tf.Evaluate(x);
            const int values[4] = {got.r, got.g, got.b, got.a};
            for (int c = 0; c < 4; ++c) {
                const auto& samples = tf.Channel(c);
                // With equal positions the stored order decides; the reference
                // reads the same stored order.
                ASSERT_EQ(values[c], ReferenceChannel(samples, x))
                    << "round " << round << " channel " << c << " x " << x;
            }
        }
    }
}

TEST(TransferFunction, AddSortsRemoveIsByIdentity)
{
    TransferFunction tf;
    EXPECT_FALSE(tf.IsModified());
    EXPECT_FALSE(tf.HasFileName());
    tf.AddSample(2, 1, 300);
    tf.AddSample(2, 2, 100);
    tf.AddSample(2, 3, 200);
    tf.AddSample(2, 4, 200);
    EXPECT_TRUE(tf.IsModified());
    const auto& blue = tf.Channel(2);
    ASSERT_EQ(blue.size(), 4u);
    EXPECT_EQ(blue[0].position, 100u);
    EXPECT_EQ(blue[1].position, 200u);
    EXPECT_EQ(blue[2].position, 200u);
    EXPECT_EQ(blue[3].position, 300u);

    // Two samples of equal value and position: only the referenced one goes.
    tf.SetModified(false);
    const TransferFunction::Sample* second = &blue[2];
    const uint8_t keptValue = blue[1].value;
    tf.RemoveSample(*second);
    EXPECT_FALSE(tf.IsModified());
    ASSERT_EQ(blue.size(), 3u);
    EXPECT_EQ(blue[1].value, keptValue);
    EXPECT_EQ(blue[2].position, 300u);

    // A copy is not a stored sample and removes nothing.
    const TransferFunction::Sample copy = blue[0];
    tf.RemoveSample(copy);
    EXPECT_EQ(blue.size(), 3u);

    tf.Clear();
    EXPECT_TRUE(tf.IsModified());
    EXPECT_FALSE(tf.HasFileName());
    EXPECT_EQ(tf.SampleCount(2), 0u);
}

TEST(TransferFunction, DraggedSampleKeepsItsStoredPlace)
{
    TransferFunction tf;
    tf.AddSample(3, 0, 0);
    tf.AddSample(3, 100, 100);
    tf.AddSample(3, 200, 200);
    // Drag the middle point past its right neighbour, as the editor does.
    tf.Channel(3)[1].position = 300;
    EXPECT_EQ(tf.Channel(3)[1].position, 300u);
    // Evaluate stops at the first stored sample above 150: the dragged one.
    EXPECT_EQ(tf.Evaluate(150).a, 0 + (150 * 100) / 300);
}

TEST(TransferFunction, ClassifyEqualsEvaluatePerVoxel)
{
    TransferFunction tf;
    FillStartupTransferFunction(tf);
    std::vector<uint16_t> densities;
    for (int i = 0; i < 9000; ++i) {
        densities.push_back(uint16_t((i * 7919) % 4097));
    }
    std::vector<uint32_t> out(densities.size(), 0xDEADBEEF);
    tf.Classify(out.data(), densities.data(), densities.size());
    for (size_t i = 0; i < densities.size(); ++i) {
        ASSERT_EQ(out[i], tf.Evaluate(densities[i]).Packed()) << i;
    }
    // A short run takes the direct path and must agree too.
    const uint16_t few[2] = {4000, 3};
    uint32_t two[2];
    tf.Classify(two, few, 2);
    EXPECT_EQ(two[0], tf.Evaluate(4000).Packed());
    EXPECT_EQ(two[1], tf.Evaluate(3).Packed());
    EXPECT_EQ(TransferFunction::Color({1, 2, 3, 4}).Packed(), 0x04030201u);
}
