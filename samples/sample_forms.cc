// The sample's resources: the main form and the data module as the form
// designer stores them, beside the raw data and string tables every program
// carries.
//
// The main form has buttons, a label with a long caption, an edit, a nested
// panel with its own button and an image, a status bar with a collection of
// panels and a main menu with nested items; its events name the published
// methods of TForm1 (two events share one handler) except OnDblClick, which
// names a method the class does not publish. The data module's component
// carries the number formats no form control uses.
#include "samples/form_writer.h"
#include "samples/sample_resources.h"

namespace samples {

namespace {

constexpr uint32_t kRcData = 10;
constexpr uint32_t kStringTable = 6;
constexpr uint16_t kEnglish = 1033;
constexpr uint16_t kGerman = 1031;

ResourceId Named(const std::u16string &name) { return ResourceId{0, name}; }
ResourceId Numbered(uint32_t id) { return ResourceId{id, {}}; }

void IntProperty(FormWriter &f, const std::string &name, int32_t v) {
  f.Property(name);
  f.Int(v);
}

void IdentProperty(FormWriter &f, const std::string &name, const std::string &v) {
  f.Property(name);
  f.Ident(v);
}

void StringProperty(FormWriter &f, const std::string &name, const std::string &v) {
  f.Property(name);
  f.String(v);
}

void Bounds(FormWriter &f, int left, int top, int width, int height) {
  IntProperty(f, "Left", left);
  IntProperty(f, "Top", top);
  IntProperty(f, "Width", width);
  IntProperty(f, "Height", height);
}

void MenuItem(FormWriter &f, const std::string &name, const std::string &caption,
              const char *on_click) {
  f.BeginComponent("TMenuItem", name);
  StringProperty(f, "Caption", caption);
  if (on_click != nullptr) IdentProperty(f, "OnClick", on_click);
  f.EndProperties();
}

std::vector<uint8_t> MainForm(bool newer) {
  FormWriter f;
  f.BeginComponent("TForm1", "Form1");
  IntProperty(f, "Left", 192);
  IntProperty(f, "Top", 107);
  f.Property("Caption");
  f.LString("Sample main window");
  IntProperty(f, "ClientHeight", 320);
  IntProperty(f, "ClientWidth", 480);
  IdentProperty(f, "Color", "clBtnFace");
  f.Property("Font.Style");
  f.Set({});
  f.Property("Hint");
  f.WString(u"Gr\u00FC\u00DFe \u2713");
  IdentProperty(f, "Menu", "MainMenu1");
  f.Property("OldCreateOrder");
  f.Bool(false);
  IdentProperty(f, "OnCreate", "FormCreate");
  IdentProperty(f, "OnDblClick", "FormDblClick");
  // A handler whose event has parameters on the stack, in the newer
  // programs only: the classic sample's form stays as it always was.
  if (newer) IdentProperty(f, "OnMouseDown", "FormMouseDown");
  f.Property("DesignSize");
  f.BeginList();
  f.Int(480);
  f.Int(320);
  f.EndList();
  IntProperty(f, "PixelsPerInch", 96);
  IntProperty(f, "TextHeight", 13);
  f.EndProperties();

  f.BeginComponent("TLabel", "Label1");
  Bounds(f, 8, 8, 464, 13);
  f.Property("Caption");
  f.String(
      "Type a name into the field below and press OK; it's kept until the program ends.");
  f.Property("WordWrap");
  f.Bool(true);
  f.EndProperties();
  f.EndComponent();

  f.BeginComponent("TEdit", "Edit1");
  Bounds(f, 8, 32, 464, 21);
  f.Property("Text");
  f.Utf8String("Caf\xC3\xA9");
  f.Property("Tag");
  f.Int64(0x123456789A);
  IdentProperty(f, "OnChange", "Edit1Change");
  f.EndProperties();
  f.EndComponent();

  f.BeginComponent("TButton", "Button1");
  Bounds(f, 316, 272, 75, 25);
  f.Property("Anchors");
  f.Set({"akRight", "akBottom"});
  StringProperty(f, "Caption", "&OK");
  f.Property("Default");
  f.Bool(true);
  IntProperty(f, "ModalResult", 1);
  IdentProperty(f, "OnClick", "Button1Click");
  f.EndProperties();
  f.EndComponent();

  f.BeginComponent("TPanel", "Panel1");
  Bounds(f, 8, 64, 464, 196);
  IdentProperty(f, "BevelOuter", "bvLowered");
  f.EndProperties();
  {
    f.BeginComponent("TButton", "Button2");
    Bounds(f, 8, 8, 75, 25);
    StringProperty(f, "Caption", "Apply");
    IdentProperty(f, "OnClick", "Button1Click");
    f.EndProperties();
    f.EndComponent();
    f.BeginComponent("TImage", "Image1");
    Bounds(f, 96, 8, 32, 32);
    f.Property("Picture.Data");
    std::vector<uint8_t> picture = {7, 'T', 'B', 'i', 't', 'm', 'a', 'p', 'B', 'M'};
    for (uint8_t i = 0; i < 36; ++i) picture.push_back(static_cast<uint8_t>(i * 7));
    f.Binary(picture);
    f.EndProperties();
    f.EndComponent();
  }
  f.EndComponent();

  f.BeginComponent("TStatusBar", "StatusBar1");
  Bounds(f, 0, 301, 480, 19);
  f.Property("Panels");
  f.BeginCollection();
  f.BeginItem();
  StringProperty(f, "Text", "Ready");
  IntProperty(f, "Width", 200);
  f.EndItem();
  f.BeginItem(1);
  IdentProperty(f, "Alignment", "taRightJustify");
  IntProperty(f, "Width", 50);
  f.EndItem();
  f.EndCollection();
  f.EndProperties();
  f.EndComponent();

  f.BeginComponent("TMainMenu", "MainMenu1");
  IntProperty(f, "Left", 400);
  IntProperty(f, "Top", 16);
  f.EndProperties();
  MenuItem(f, "File1", "&File", nullptr);
  MenuItem(f, "Open1", "&Open...", "Button1Click");
  f.EndComponent();
  MenuItem(f, "Exit1", "E&xit", "FormCreate");
  f.EndComponent();
  f.EndComponent();
  f.EndComponent();

  f.EndComponent();
  return f.bytes();
}

std::vector<uint8_t> DataModule() {
  FormWriter f;
  f.BeginComponent("TDataModule1", "DataModule1");
  f.Property("OldCreateOrder");
  f.Bool(false);
  IntProperty(f, "Height", 150);
  IntProperty(f, "Width", 215);
  f.EndProperties();
  f.BeginComponent("TModeSelector", "Selector", FormWriter::kChildPosition, 0);
  IdentProperty(f, "Mode", "cmGreen");
  f.Property("Modes");
  f.Set({"cmRed", "cmGreen"});
  f.Property("Zoom");
  f.Extended(1.5);
  f.Property("Ratio");
  f.Single(0.25f);
  f.Property("Scale");
  f.Double(-2.75);
  f.Property("Price");
  f.Currency(125000);
  f.Property("Created");
  f.Date(45000.5);
  f.Property("Items.Strings");
  f.BeginList();
  f.String("first");
  f.String("second");
  f.EndList();
  f.Property("Owner");
  f.Nil();
  f.EndProperties();
  f.EndComponent();
  f.EndComponent();
  return f.bytes();
}

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes) { return bytes; }

/// A string table block of 16 counted UTF-16 strings, the first `texts` set.
std::vector<uint8_t> StringBlock(std::initializer_list<std::u16string> texts) {
  std::vector<uint8_t> b;
  size_t n = 0;
  for (const std::u16string &t : texts) {
    b.push_back(static_cast<uint8_t>(t.size()));
    b.push_back(static_cast<uint8_t>(t.size() >> 8));
    for (char16_t u : t) {
      b.push_back(static_cast<uint8_t>(u));
      b.push_back(static_cast<uint8_t>(u >> 8));
    }
    ++n;
  }
  b.resize(b.size() + 2 * (16 - n), 0);
  return b;
}

}  // namespace

std::vector<ResourceSpec> SampleResources(bool newer) {
  std::vector<ResourceSpec> r;
  r.push_back({Numbered(kRcData), Named(u"TFORM1"), 0, MainForm(newer)});
  r.push_back({Numbered(kRcData), Named(u"TDATAMODULE1"), 0, DataModule()});
  r.push_back({Numbered(kRcData), Named(u"DVCLAL"), 0,
               Bytes({0x26, 0x3D, 0x4F, 0x38, 0xC2, 0x82, 0x37, 0xB8, 0xF3, 0x24, 0x42,
                      0x03, 0x17, 0x9B, 0x3A, 0x83})});
  r.push_back({Numbered(kRcData), Named(u"PACKAGEINFO"), 0,
               Bytes({0x00, 0x00, 0x10, 0xCC, 0x02, 0x00, 0x00, 0x00})});
  r.push_back(
      {Numbered(kStringTable), Numbered(1), kEnglish, StringBlock({u"Ready", u"Saved"})});
  r.push_back({Numbered(kStringTable), Numbered(1), kGerman,
               StringBlock({u"Bereit", u"Gespeichert"})});
  r.push_back({Named(u"SAMPLE_DATA"), Numbered(1), 0, Bytes({1, 2, 3, 4, 5})});
  return r;
}

}  // namespace samples
