#include "widgets/animator.h"

#include <ostream>
#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "widgets/image_list.h"

namespace {

// Eight 4 x 4 frames, frame i a solid colour with red = 10 * i, and a
// transparent top-left pixel that shows the animator's colour.
widgets::TImageList EightFrames() {
  widgets::TImageList list(4, 4);
  for (int i = 0; i < 8; ++i) {
    QImage image(4, 4, QImage::Format_ARGB32);
    image.fill(QColor(10 * i, 100, 200));
    image.setPixelColor(0, 0, Qt::transparent);
    EXPECT_EQ(list.Add(QPixmap::fromImage(image)), i);
  }
  return list;
}

std::vector<int> TickAndCollect(widgets::TAnimator& animator, int ticks) {
  std::vector<int> shown;
  for (int i = 0; i < ticks; ++i) {
    animator.Tick();
    shown.push_back(animator.ShownIndex());
  }
  return shown;
}

TEST(ImageList, AcceptsOnlyImagesOfItsSize) {
  widgets::TImageList list(32, 32);
  EXPECT_EQ(list.Add(QPixmap(32, 32)), 0);
  EXPECT_EQ(list.Add(QPixmap(16, 32)), -1);
  EXPECT_EQ(list.Add(QPixmap()), -1);
  EXPECT_EQ(list.AddStrip(QPixmap(32 * 3, 32)), 3);
  EXPECT_EQ(list.AddStrip(QPixmap(64, 16)), 0);
  EXPECT_EQ(list.AddFile("/no/such/file.png"), -1);
  EXPECT_EQ(list.Count(), 4);
}

// The starting image, the images shown by the following ticks.
struct TStartCase {
  int Start;
  std::vector<int> Shown;
};

// Names the case in test listings (instead of a dump of its bytes).
void PrintTo(const TStartCase& c, std::ostream* os) { *os << "Start" << c.Start; }


class AnimatorStart : public ::testing::TestWithParam<TStartCase> {};

TEST_P(AnimatorStart, ShowsEveryImageInTurnAndWraps) {
  const widgets::TImageList list = EightFrames();
  widgets::TAnimator animator;
  animator.SetImageList(&list);
  animator.SetImageIndex(GetParam().Start);
  EXPECT_EQ(TickAndCollect(animator, static_cast<int>(GetParam().Shown.size())), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, AnimatorStart,
    ::testing::Values(TStartCase{6, {6, 7, 0, 1, 2, 3, 4, 5, 6}},
                      TStartCase{4, {4, 5, 6, 7, 0, 1, 2, 3, 4}},
                      TStartCase{0, {0, 1, 2, 3, 4, 5, 6, 7, 0}},
                      // A starting image beyond the list starts from the first.
                      TStartCase{8, {0, 1, 2}}, TStartCase{100, {0, 1}}));

TEST(Animator, FrameIsTheImageOnTheControlColour) {
  const widgets::TImageList list = EightFrames();
  widgets::TAnimator animator;
  animator.SetColor(QColor(1, 2, 3));
  animator.SetImageList(&list);
  animator.SetImageIndex(5);
  animator.Tick();
  const QImage frame = animator.Frame().toImage();
  ASSERT_EQ(frame.size(), QSize(4, 4));
  EXPECT_EQ(frame.pixelColor(2, 2), QColor(50, 100, 200));
  EXPECT_EQ(frame.pixelColor(0, 0), QColor(1, 2, 3));

  // What the control paints is that frame at its top-left corner.
  animator.resize(8, 8);
  const QImage painted = animator.grab().toImage();
  EXPECT_EQ(painted.pixelColor(2, 2), QColor(50, 100, 200));
  EXPECT_EQ(painted.pixelColor(6, 6), QColor(1, 2, 3));
}

TEST(Animator, TickWithoutImagesDoesNothing) {
  widgets::TAnimator animator;
  QSignalSpy spy(&animator, &widgets::TAnimator::ImageShown);
  animator.SetImageIndex(3);
  animator.Tick();
  widgets::TImageList empty(4, 4);
  animator.SetImageList(&empty);
  animator.Tick();
  EXPECT_EQ(spy.count(), 0);
  EXPECT_EQ(animator.ShownIndex(), -1);
  EXPECT_EQ(animator.ImageIndex(), 3);
}

TEST(Animator, RunsOnItsOwnTimerFromCreation) {
  const widgets::TImageList list = EightFrames();
  widgets::TAnimator animator;
  EXPECT_TRUE(animator.Animate());
  EXPECT_EQ(animator.Interval(), 100);
  animator.SetInterval(5);  // keep the test short; the ticks are what matters
  animator.SetImageList(&list);
  animator.SetImageIndex(6);
  QSignalSpy spy(&animator, &widgets::TAnimator::ImageShown);
  QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= 8, 10000);
  std::vector<int> shown;
  for (int i = 0; i < 8; ++i) shown.push_back(spy.at(i).at(0).toInt());
  EXPECT_EQ(shown, (std::vector<int>{6, 7, 0, 1, 2, 3, 4, 5}));

  animator.SetAnimate(false);
  const int count = static_cast<int>(spy.count());
  QTest::qWait(30);
  EXPECT_EQ(spy.count(), count);
}

}  // namespace
