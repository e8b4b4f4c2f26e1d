#include <gtest/gtest.h>

#include <QColor>
#include <QFont>
#include <QWidget>
#include <optional>

#include "app/PropStore.h"
#include "support/TestUtil.h"

namespace quelt {

// A control with one property of each kind the store converts.
class TGadget : public QObject {
  Q_OBJECT
  Q_PROPERTY(int Count MEMBER count)
  Q_PROPERTY(bool On MEMBER on)
  Q_PROPERTY(bool Off MEMBER off)
  Q_PROPERTY(TShade Shade MEMBER shade)
  Q_PROPERTY(TStyles Styles READ getStyles WRITE setStyles)
  Q_PROPERTY(double Ratio MEMBER ratio)
  Q_PROPERTY(QString Caption MEMBER caption)
  Q_PROPERTY(QStringList Lines MEMBER lines)
  Q_PROPERTY(QChar Mark MEMBER mark)
  Q_PROPERTY(QColor Tint MEMBER tint)
  Q_PROPERTY(QFont Font MEMBER font)
  Q_PROPERTY(QObject* Buddy MEMBER buddy)

 public:
  enum TShade : int { shLight, shMedium, shDark };
  Q_ENUM(TShade)
  enum TStyle { stBold = 1, stItalic = 2, stUnderline = 4 };
  Q_DECLARE_FLAGS(TStyles, TStyle)
  Q_FLAG(TStyles)

  TGadget(const QString& name, QObject* parent) : QObject(parent) { setObjectName(name); }
  TStyles getStyles() const { return styles; }
  void setStyles(TStyles s) { styles = s; }

  int count = 42;
  bool on = false, off = true;
  TShade shade = shMedium;
  TStyles styles = stItalic;
  double ratio = 1.25;
  QString caption = "designed";
  QStringList lines{"one"};
  QChar mark = 'q';
  QColor tint = QColor(1, 2, 3);
  QFont font = QFont("DejaVu Sans", 10);
  QObject* buddy = nullptr;
};
Q_DECLARE_OPERATORS_FOR_FLAGS(TGadget::TStyles)

namespace {

using test::TempDir;

const QString kKey = "SOFTWARE\\Dunmarra\\Test";

QString item(const QString& control, const QString& property, const QString& def,
             const QString& value, const QString& loadOnly = "0") {
  return control + ";" + property + ";" + def + ";" + kKey + ";" + value + ";1;" + loadOnly;
}

struct TRig {
  TempDir dir;
  TSettingsStore settings{dir / "s.reg"};
  QWidget form;
  TGadget* gadget;
  TGadget* other;
  TPropStore* store;
  TRig() {
    form.setObjectName("Form1");
    gadget = new TGadget("Gadget1", &form);
    other = new TGadget("Other1", &form);
    store = new TPropStore(&form, settings);
    store->RegistryRoot = LOCAL_MACHINE;
  }
  void put(const std::string& name, const std::string& text) {
    settings.WriteString(LOCAL_MACHINE, kKey.toStdString(), name, text);
  }
  std::optional<std::string> stored(const std::string& name) {
    return settings.ReadString(LOCAL_MACHINE, kKey.toStdString(), name);
  }
};

TEST(PropStore, LoadAppliesTheStoredTextOrElseTheDefault) {
  struct TCase {
    const char* property;
    const char* defaultText;
    std::optional<const char*> stored;
    QVariant expected;
  };
  const TCase cases[] = {
      {"Count", "5", std::nullopt, 5},
      {"Count", "5", "600", 600},
      {"Count", "", std::nullopt, 42},  // an empty text leaves a number as designed
      {"Count", "5", "lots", 42},       // and so does one that does not convert
      {"On", "True", std::nullopt, true},
      {"On", "", "1", true},
      {"On", "", "yes", true},
      {"Off", "False", std::nullopt, false},
      {"Off", "", "0", false},
      {"Off", "", "nope", false},
      {"Off", "", std::nullopt, true},
      {"Shade", "shDark", std::nullopt, int(TGadget::shDark)},
      {"Shade", "", "SHDARK", int(TGadget::shDark)},
      {"Shade", "", "purple", int(TGadget::shMedium)},
      {"Styles", "[stBold,stUnderline]", std::nullopt, int(TGadget::stBold | TGadget::stUnderline)},
      {"Styles", "", std::nullopt, 0},  // an empty set text empties the set
      {"Ratio", "", "2.5", 2.5},
      {"Ratio", "", std::nullopt, 1.25},
      {"Caption", "", std::nullopt, QString("")},  // an empty text empties a string
      {"Caption", "", "hello", QString("hello")},
      {"Lines", "", "a|b|c", QStringList{"a", "b", "c"}},
      {"Mark", "", "Zed", QChar('Z')},
      {"Mark", "", std::nullopt, QChar('q')},
      {"Tint", "", "clRed", QColor(255, 0, 0)},
      {"Tint", "", "65280", QColor(0, 255, 0)},  // blue-green-red numbers
      {"Tint", "", "clNoSuchColour", QColor(1, 2, 3)},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.property) + " default '" + c.defaultText + "' stored '" +
                 (c.stored ? *c.stored : "(none)") + "'");
    TRig rig;
    if (c.stored) rig.put(c.property, *c.stored);
    rig.store->Items = {item("Gadget1", c.property, c.defaultText, c.property)};
    rig.store->LoadItems();
    QVariant actual = rig.gadget->property(c.property);
    if (actual.metaType().flags() & QMetaType::IsEnumeration) actual = actual.toInt();
    EXPECT_EQ(actual, c.expected);
  }
}

TEST(PropStore, LoadFindsControlsAndPropertiesWithoutRegardToCaseAndSkipsTheRest) {
  TRig rig;
  rig.put("Count", "7");
  rig.put("Buddy", "Other1");
  rig.settings.WriteInteger(LOCAL_MACHINE, kKey.toStdString(), "Typed", 9);
  rig.store->Items = {
      item("gadget1", "count", "1", "Count"),
      item("Gadget1", "Buddy", "", "Buddy"),
      item("Gadget1", "On", "1", "Typed"),  // an integer value is not text: the item is skipped
      item("StringGrid1", "Font", "", "Font"),
      item("Gadget1", "NoSuchProperty", "1", "X"),
      " ; ; ; ; ;1;0",
  };
  rig.store->LoadItems();
  EXPECT_EQ(rig.gadget->count, 7);
  EXPECT_EQ(rig.gadget->buddy, rig.other);
  EXPECT_FALSE(rig.gadget->on);
}

TEST(PropStore, SaveWritesEachPropertyAsText) {
  TRig rig;
  rig.gadget->count = 600;
  rig.gadget->on = true;
  rig.gadget->shade = TGadget::TShade(7);  // out of range: saved as the lowest member
  rig.gadget->styles = TGadget::stBold | TGadget::stUnderline;
  rig.gadget->ratio = 2.5;
  rig.gadget->lines = {"first line", "second"};
  rig.gadget->tint = QColor(10, 20, 30);
  rig.gadget->buddy = rig.other;
  rig.other->styles = {};
  rig.other->tint = QColor(255, 0, 0);
  rig.store->Items = {
      item("Gadget1", "Count", "", "Count"),    item("Gadget1", "On", "", "On"),
      item("Gadget1", "Shade", "", "Shade"),    item("Gadget1", "Styles", "", "Styles"),
      item("Gadget1", "Ratio", "", "Ratio"),    item("Gadget1", "Lines", "", "Lines"),
      item("Gadget1", "Tint", "", "Tint"),      item("Gadget1", "Buddy", "", "Buddy"),
      item("Other1", "Styles", "", "NoStyles"), item("Other1", "Tint", "", "Red"),
      item("Gadget1", "Mark", "", "Mark", "1"),  // load only
      item("StringGrid1", "Font", "", "Font"),
  };
  ASSERT_TRUE(rig.store->SaveItems());
  EXPECT_FALSE(rig.settings.Dirty());  // saved to the file
  EXPECT_EQ(rig.stored("Count"), "600");
  EXPECT_EQ(rig.stored("On"), "1");
  EXPECT_EQ(rig.stored("Shade"), "shLight");
  EXPECT_EQ(rig.stored("Styles"), "[stBold,stUnderline]");
  EXPECT_EQ(rig.stored("NoStyles"), "[]");
  EXPECT_EQ(rig.stored("Ratio"), "2.5");
  EXPECT_EQ(rig.stored("Lines"), "first line|second");
  EXPECT_EQ(rig.stored("Tint"), std::to_string(30 << 16 | 20 << 8 | 10));
  EXPECT_EQ(rig.stored("Red"), "clRed");
  EXPECT_EQ(rig.stored("Buddy"), "Other1");
  EXPECT_FALSE(rig.stored("Mark"));
  EXPECT_FALSE(rig.stored("Font"));

  // And it all comes back.
  QWidget form2;
  form2.setObjectName("Form1");
  TGadget& fresh = *new TGadget("Gadget1", &form2);
  new TGadget("Other1", &form2);
  TPropStore again(&form2, rig.settings);
  again.RegistryRoot = LOCAL_MACHINE;
  again.Items = rig.store->Items;
  again.LoadItems();
  EXPECT_EQ(fresh.count, 600);
  EXPECT_TRUE(fresh.on);
  EXPECT_EQ(fresh.styles, TGadget::stBold | TGadget::stUnderline);
  EXPECT_EQ(fresh.lines, (QStringList{"first line", "second"}));
  EXPECT_EQ(fresh.tint, QColor(10, 20, 30));
}

TEST(PropStore, ALineWithThreeFieldsUsesTheRootsUnnamedValue) {
  TRig rig;
  rig.gadget->caption = "at the root";
  rig.store->Items = {"Gadget1;Caption;fallback"};
  ASSERT_TRUE(rig.store->SaveItems());
  EXPECT_EQ(rig.settings.ReadString(LOCAL_MACHINE, "", ""), "at the root");
  rig.gadget->caption.clear();
  rig.store->LoadItems();
  EXPECT_EQ(rig.gadget->caption, "at the root");
}

TEST(PropStore, TheFormItselfIsNamedByItsOwnName) {
  TRig rig;
  rig.put("Title", "from the store");
  rig.store->Items = {item("Form1", "windowTitle", "", "Title")};
  rig.store->LoadItems();
  EXPECT_EQ(rig.form.windowTitle(), "from the store");
}

TEST(PropStore, FontsAreStoredFieldByField) {
  QFont plain("DejaVu Sans");
  plain.setPointSize(9);
  EXPECT_EQ(TPropStore::FontText(plain), "1|clWindowText|-12|DejaVu Sans|fpDefault|9|[]");
  QFont styled("DejaVu Sans Mono");
  styled.setPointSize(12);
  styled.setBold(true);
  styled.setItalic(true);
  styled.setFixedPitch(true);
  EXPECT_EQ(TPropStore::FontText(styled),
            "1|clWindowText|-16|DejaVu Sans Mono|fpFixed|12|[fsBold,fsItalic]");

  struct TCase {
    const char* text;
    double points;
    const char* family;
    bool underline;
  };
  const TCase cases[] = {
      // Size comes after Height and decides.
      {"1|clWindowText|-11|Mono|fpFixed|8|[fsUnderline]", 8, "Mono", true},
      {"1|clWindowText|-16|Serif", 12, "Serif", false},  // fewer fields: the rest stays
      {"", 10, "DejaVu Sans", false},                    // nothing stored: as designed
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.text);
    QFont font("DejaVu Sans", 10);
    ASSERT_TRUE(TPropStore::ApplyFontText(font, c.text));
    EXPECT_DOUBLE_EQ(font.pointSizeF(), c.points);
    EXPECT_EQ(font.family(), c.family);
    EXPECT_EQ(font.underline(), c.underline);
  }
  QFont untouched("DejaVu Sans", 10);
  EXPECT_FALSE(TPropStore::ApplyFontText(untouched, "1|clWindowText|tall|X"));
  EXPECT_EQ(untouched.family(), "DejaVu Sans");

  // Through a property, the font round-trips.
  TRig rig;
  rig.gadget->font = styled;
  rig.store->Items = {item("Gadget1", "Font", "", "Font")};
  ASSERT_TRUE(rig.store->SaveItems());
  rig.gadget->font = QFont("DejaVu Sans", 10);
  rig.store->LoadItems();
  EXPECT_EQ(rig.gadget->font.family(), "DejaVu Sans Mono");
  EXPECT_EQ(rig.gadget->font.pointSize(), 12);
  EXPECT_TRUE(rig.gadget->font.bold());
  EXPECT_TRUE(rig.gadget->font.italic());
}

}  // namespace
}  // namespace quelt

#include "PropStoreTest.moc"
