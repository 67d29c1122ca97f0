// Template geometry in dialog units becomes pixels from the font, and a
// caption that the desktop's font makes too wide never ends up cut.
#include <gtest/gtest.h>

#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include "DialogUnits.h"

namespace tarven {
namespace {

TEST(DialogUnits, ScaleXByQuarterCharactersAndYByEighthLines) {
    const DialogBaseUnits base{6, 13};
    EXPECT_EQ(DialogUnitsToPixels(QRect(4, 8, 40, 16), base), QRect(6, 13, 60, 26));
    // Rounded to nearest, as the original toolkit does.
    EXPECT_EQ(DialogUnitsToPixels(QRect(1, 1, 3, 3), base), QRect(2, 2, 5, 5));
}

struct TemplateDialog {
    TemplateDialog() {
        dialog.resize(200, 60);  // dialog units until ApplyDialogUnits
    }
    QPushButton* Button(const QString& text, QRect du) {
        auto* b = new QPushButton(text, &dialog);
        b->setGeometry(du);
        return b;
    }
    QLabel* Label(const QString& text, QRect du, Qt::Alignment align = Qt::AlignLeft) {
        auto* l = new QLabel(text, &dialog);
        l->setAlignment(align | Qt::AlignVCenter);
        l->setGeometry(du);
        return l;
    }
    QDialog dialog;
};

TEST(DialogUnits, AWideCaptionTakesFreeRoomBesideIt) {
    TemplateDialog t;
    QLabel* label = t.Label(QStringLiteral("La trajectoire du dossier choisi:"), QRect(2, 4, 22, 8));
    QPushButton* far = t.Button(QStringLiteral("OK"), QRect(150, 2, 40, 12));
    ApplyDialogUnits(&t.dialog);
    EXPECT_GE(label->width(), label->sizeHint().width());
    EXPECT_LT(label->geometry().right(), far->geometry().left()) << "it must not run into its neighbour";
    EXPECT_EQ(label->x(), DialogUnitsToPixels(QRect(2, 4, 22, 8), BaseUnitsFor(t.dialog.font())).x());
}

TEST(DialogUnits, ARightAlignedCaptionGrowsToTheLeft) {
    TemplateDialog t;
    QLabel* label = t.Label(QStringLiteral("nouveau nom de fichier:"), QRect(100, 20, 20, 10), Qt::AlignRight);
    const int right = DialogUnitsToPixels(QRect(100, 20, 20, 10), BaseUnitsFor(t.dialog.font())).right();
    ApplyDialogUnits(&t.dialog);
    EXPECT_GE(label->width(), label->sizeHint().width());
    EXPECT_EQ(label->geometry().right(), right);
}

TEST(DialogUnits, AOneLineWrappingLabelAtTheEdgeShowsWholeToItsRight) {
    TemplateDialog t;
    QLabel* label = t.Label(QStringLiteral("La trajectoire:"), QRect(2, 4, 22, 8), Qt::AlignRight);
    label->setWordWrap(true);
    QLabel* path = t.Label(QStringLiteral("/"), QRect(87, 4, 100, 8));
    ApplyDialogUnits(&t.dialog);
    EXPECT_FALSE(label->wordWrap());
    EXPECT_GE(label->width(), label->sizeHint().width());
    EXPECT_LT(label->geometry().right(), path->geometry().left());
}

TEST(DialogUnits, AHemmedInCaptionShrinksItsFontAndKeepsItsTextInATooltip) {
    TemplateDialog t;
    t.Button(QStringLiteral("A"), QRect(0, 20, 60, 12));
    QPushButton* squeezed = t.Button(QStringLiteral("Changer Le classeur maintenant"), QRect(62, 20, 40, 12));
    t.Button(QStringLiteral("B"), QRect(104, 20, 60, 12));
    const qreal before = squeezed->font().pointSizeF();
    ApplyDialogUnits(&t.dialog);
    EXPECT_LT(squeezed->font().pointSizeF(), before);
    EXPECT_GE(squeezed->font().pointSizeF(), before * 0.8);
    if (squeezed->sizeHint().width() > squeezed->width()) {
        EXPECT_EQ(squeezed->toolTip(), squeezed->text());
    }
}

TEST(DialogUnits, CaptionsThatFitAreLeftAlone) {
    TemplateDialog t;
    QPushButton* ok = t.Button(QStringLiteral("OK"), QRect(10, 10, 50, 14));
    ApplyDialogUnits(&t.dialog);
    EXPECT_EQ(ok->geometry(), DialogUnitsToPixels(QRect(10, 10, 50, 14), BaseUnitsFor(t.dialog.font())));
    EXPECT_TRUE(ok->toolTip().isEmpty());
}

}  // namespace
}  // namespace tarven
