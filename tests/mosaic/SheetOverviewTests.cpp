// The overview of a set of sheets: the pieces at their ground, each sheet's outline and its
// number in the middle of it.
#include "mosaic/SheetOverview.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

QImage Solid(const QColor& colour) {
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

bool IsOutline(QRgb p) {
    return qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90;
}

bool Near(QRgb p, const QColor& c) {
    return std::abs(qRed(p) - c.red()) <= 2 && std::abs(qGreen(p) - c.green()) <= 2 &&
           std::abs(qBlue(p) - c.blue()) <= 2;
}

class SheetOverview : public ::testing::Test {
protected:
    void SetUp() override {
        // 35 x 30 tiles of 1 km: 4 x 3 sheets, the last column 5 tiles wide.
        const SheetCut cut =
            CutBox({600000, 4710000, 635000, 4740000}, {1000, 0, QStringLiteral("Valle")});
        ASSERT_TRUE(cut.set);
        set = *cut.set;
        ASSERT_EQ(set.sheets.size(), 12u);
    }

    // The sheet's pixels at 50 m a pixel from the set's upper-left corner.
    QRect Pixels(const Sheet& s) const {
        return QRect(int((s.easting - 600000) / 50), int((4740000 - s.northing) / 50),
                     s.across * 20, s.down * 20);
    }

    SheetSet set;
    const QColor green{0, 160, 0};
    const QColor blue{0, 0, 200};
};

TEST_F(SheetOverview, PaintsThePiecesThenEachSheetsOutlineAndNumberInsideIt) {
    const GroundRect area = set.extent();
    EXPECT_DOUBLE_EQ(SheetOverviewScale(area, 700), 50.0);
    const std::vector<OverviewPiece> pieces = {
        {{600000, 4710000, 620000, 4740000}, Solid(green)},
        {{620000, 4725000, 635000, 4740000}, Solid(blue)},
    };
    const QImage image = PaintSheetOverview(area, 50.0, set.sheets, pieces);
    ASSERT_EQ(image.size(), QSize(700, 600));

    std::vector<QRect> numbers;
    for (const Sheet& sheet : set.sheets) {
        SCOPED_TRACE(sheet.name.toStdString());
        const QRect r = Pixels(sheet);
        // The outline runs along the sheet's own edges.
        EXPECT_TRUE(IsOutline(image.pixel(r.left(), r.center().y())));
        EXPECT_TRUE(IsOutline(image.pixel(r.right(), r.center().y())));
        EXPECT_TRUE(IsOutline(image.pixel(r.center().x(), r.top())));
        EXPECT_TRUE(IsOutline(image.pixel(r.center().x(), r.bottom())));

        // The number: the outline's colour inside the sheet, away from its edges, around
        // the sheet's middle.
        QRect painted;
        const QRect inside = r.adjusted(4, 4, -4, -4);
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            for (int x = inside.left(); x <= inside.right(); ++x) {
                if (IsOutline(image.pixel(x, y))) {
                    painted |= QRect(x, y, 1, 1);
                }
            }
        }
        ASSERT_FALSE(painted.isEmpty()) << "no number";
        EXPECT_LE(std::abs(painted.center().x() - r.center().x()), 4);
        EXPECT_LE(std::abs(painted.center().y() - r.center().y()), 4);
        EXPECT_GT(painted.height(), 10);
        numbers.push_back(painted);
    }
    // Sheets 1 and 10 are alike but for their numbers.
    EXPECT_EQ(Pixels(set.sheets[0]).size(), Pixels(set.sheets[9]).size());
    EXPECT_GT(numbers[9].width(), numbers[0].width() * 3 / 2);

    // A quarter of the way into a sheet lies the piece under it, or white where none is.
    const auto quarter = [&](int number) {
        const QRect r = Pixels(set.sheets[size_t(number - 1)]);
        return image.pixel(r.left() + r.width() / 4, r.top() + r.height() / 4);
    };
    EXPECT_TRUE(Near(quarter(1), green));
    EXPECT_TRUE(Near(quarter(6), green));
    EXPECT_TRUE(Near(quarter(3), blue));
    EXPECT_TRUE(Near(quarter(4), blue));
    EXPECT_TRUE(Near(quarter(7), blue));
    EXPECT_TRUE(Near(quarter(11), Qt::white));
    EXPECT_TRUE(Near(quarter(12), Qt::white));
}

TEST_F(SheetOverview, AScaleThatMakesNoSensibleImageGivesNone) {
    const GroundRect area = set.extent();
    // 35 x 30 km at 5 m a pixel would take 42 million pixels.
    for (const double scale : {0.0, -50.0, std::numeric_limits<double>::quiet_NaN(), 5.0}) {
        EXPECT_TRUE(PaintSheetOverview(area, scale, set.sheets, {}).isNull()) << scale;
    }
    EXPECT_EQ(PaintSheetOverview(area, 6.0, set.sheets, {}).size(), QSize(5834, 5000));
    EXPECT_EQ(SheetOverviewName(QStringLiteral("Valle")), QStringLiteral("Valle_hojas.png"));
}

} // namespace
