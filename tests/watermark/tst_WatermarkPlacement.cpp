#include <QtTest>

#include "util/Random.h"
#include "watermark/WatermarkPlacement.h"

class TestWatermarkPlacement : public QObject {
  Q_OBJECT

 private slots:
  void FixedPositions_data();
  void FixedPositions();
  void RandomPositionStaysInside_data();
  void RandomPositionStaysInside();
  void EveryCallReseedsFromTheClock_data();
  void EveryCallReseedsFromTheClock();
};

void TestWatermarkPlacement::FixedPositions_data() {
  QTest::addColumn<QSize>("picture");
  QTest::addColumn<QSize>("mark");
  QTest::addColumn<int>("position");
  QTest::addColumn<QPoint>("expected");

  const QSize vga(640, 480);
  QTest::newRow("top left") << vga << QSize(100, 50) << 1 << QPoint(0, 0);
  QTest::newRow("top center") << vga << QSize(100, 50) << 2 << QPoint(270, 0);
  QTest::newRow("top right") << vga << QSize(100, 50) << 3 << QPoint(540, 0);
  QTest::newRow("middle left") << vga << QSize(100, 50) << 4 << QPoint(0, 215);
  QTest::newRow("middle center") << vga << QSize(100, 50) << 5 << QPoint(270, 215);
  QTest::newRow("middle right") << vga << QSize(100, 50) << 6 << QPoint(540, 215);
  QTest::newRow("bottom left") << vga << QSize(100, 50) << 7 << QPoint(0, 430);
  QTest::newRow("bottom center") << vga << QSize(100, 50) << 8 << QPoint(270, 430);
  QTest::newRow("bottom right") << vga << QSize(100, 50) << 9 << QPoint(540, 430);
  // 539 div 2 and 429 div 2 truncate.
  QTest::newRow("odd differences") << vga << QSize(101, 51) << 5 << QPoint(269, 214);
  QTest::newRow("odd width top center") << vga << QSize(101, 50) << 2 << QPoint(269, 0);
  // A watermark larger than the picture: the halves truncate toward zero, not down.
  QTest::newRow("wider, center") << vga << QSize(651, 50) << 2 << QPoint(-5, 0);
  QTest::newRow("wider, right") << vga << QSize(651, 50) << 3 << QPoint(-11, 0);
  QTest::newRow("taller, middle") << vga << QSize(100, 483) << 4 << QPoint(0, -1);
  QTest::newRow("taller, bottom") << vga << QSize(100, 483) << 9 << QPoint(540, -3);
  QTest::newRow("exactly as wide") << vga << QSize(640, 480) << 9 << QPoint(0, 0);
}

void TestWatermarkPlacement::FixedPositions() {
  QFETCH(QSize, picture);
  QFETCH(QSize, mark);
  QFETCH(int, position);
  QFETCH(QPoint, expected);
  QCOMPARE(GetWatermarkPos(picture, mark.width(), mark.height(), position), expected);

  Picture real;
  real.Image = QImage(picture, QImage::Format_BGR888);
  QCOMPARE(GetWatermarkPos(real, mark.width(), mark.height(), position), expected);
}

void TestWatermarkPlacement::RandomPositionStaysInside_data() {
  QTest::addColumn<int>("position");
  QTest::addColumn<QSize>("mark");
  QTest::addColumn<int>("maxX");  // inclusive bounds of the random corner
  QTest::addColumn<int>("maxY");
  QTest::newRow("index 0") << 0 << QSize(100, 50) << 539 << 429;
  QTest::newRow("no selection (-1)") << -1 << QSize(100, 50) << 539 << 429;
  QTest::newRow("index 10") << 10 << QSize(100, 50) << 539 << 429;
  // No room on an axis (difference 0 or negative): the draw gives 0.
  QTest::newRow("exactly as large") << 0 << QSize(640, 480) << 0 << 0;
  QTest::newRow("larger") << 0 << QSize(700, 500) << 0 << 0;
  QTest::newRow("one pixel of room") << 0 << QSize(639, 479) << 0 << 0;
}

void TestWatermarkPlacement::RandomPositionStaysInside() {
  QFETCH(int, position);
  QFETCH(QSize, mark);
  QFETCH(int, maxX);
  QFETCH(int, maxY);
  QSet<int> xs;
  for (int i = 0; i < 200; ++i) {
    const QPoint p = GetWatermarkPos(QSize(640, 480), mark.width(), mark.height(), position);
    QVERIFY2(p.x() >= 0 && p.x() <= maxX, qPrintable(QString::number(p.x())));
    QVERIFY2(p.y() >= 0 && p.y() <= maxY, qPrintable(QString::number(p.y())));
    xs.insert(p.x());
    // The clock seeds in microseconds: let it move between calls.
    QThread::usleep(3);
  }
  // With room to move, the position does move from call to call.
  if (maxX > 0) QVERIFY(xs.size() > 1);
}

void TestWatermarkPlacement::EveryCallReseedsFromTheClock_data() {
  QTest::addColumn<int>("position");
  QTest::newRow("random") << 0;
  QTest::newRow("fixed") << 5;
}

void TestWatermarkPlacement::EveryCallReseedsFromTheClock() {
  QFETCH(int, position);
  // After a fixed seed, the generator's state must not be what that seed plus the call's own
  // draws would give: the call reseeds from the clock first.
  constexpr std::uint32_t kSeed = 12345;
  SetRandomSeed(kSeed);
  RandomInt(10);
  RandomInt(10);
  const std::uint32_t afterTwoDraws = RandomSeed();

  SetRandomSeed(kSeed);
  GetWatermarkPos(QSize(640, 480), 100, 50, position);
  QVERIFY(RandomSeed() != kSeed);
  QVERIFY(RandomSeed() != afterTwoDraws);
}

QTEST_GUILESS_MAIN(TestWatermarkPlacement)
#include "tst_WatermarkPlacement.moc"
