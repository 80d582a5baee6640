// A host that loads the package module by path, on ELF systems and on
// Windows alike (PackageHostFixture.h says what differs). This program is not
// linked to the module: it includes the component's header for the class
// layout and the inline accessors only, and reaches everything else through
// the loaded package, the registry and the base class's virtual interface.
// It also reads the module's resources, from the loaded module and from its
// file alone.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ContentProducer.h"
#include "Package.h"
#include "PackageHostFixture.h"
#include "PackageResources.h"
#include "VekPgProd.h"

namespace {

using package_host::CountMapped;
using package_host::IsMapped;

const AnsiString kModule = package_host::ModulePath();
const AnsiString kNoEntriesModule = package_host::NoEntriesModulePath();
const AnsiString kFailingInitModule = package_host::FailingInitModulePath();

// A file name in the temporary directory with this platform's module suffix.
std::string TempModuleName(const std::string& stem) {
  return stem + package_host::ModuleSuffix();
}

std::vector<TUnitEvent> EventsSince(size_t n) {
  const std::vector<TUnitEvent> all = UnitEvents();
  return std::vector<TUnitEvent>(all.begin() + static_cast<std::ptrdiff_t>(n), all.end());
}

std::vector<std::string> Describe(const std::vector<TUnitEvent>& events) {
  std::vector<std::string> out;
  for (const TUnitEvent& e : events)
    out.push_back((e.Step == TUnitStep::Initialization ? "init " : "fini ") + e.Unit);
  return out;
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EPackageError& e) {
    return e.what();
  }
  return "(no EPackageError)";
}

std::string WriteTempFile(const std::string& name, const std::string& contents) {
  const std::string path = testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << contents;
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A component that reports its destruction.
struct TSentinel : TComponent {
  TSentinel(TComponent* Owner, bool& Destroyed) : TComponent(Owner), FDestroyed(Destroyed) {}
  ~TSentinel() override { FDestroyed = true; }
  bool& FDestroyed;
};

// Sets a producer's handlers through its inline accessors, after checking its
// class by name.
void SetHandlers(TCustomContentProducer* producer, TVekTagEvent tag, TVekPairTagEvent pair) {
  ASSERT_EQ(producer->ClassName(), "TVekPageProducer");
  auto* vek = static_cast<TVekPageProducer*>(producer);
  vek->SetOnVekTag(std::move(tag));
  vek->SetOnVekPairTag(std::move(pair));
}

// ---- Load, register, create, expand, unload ----------------------------------------

TEST(PackageHost, LoadsRegistersCreatesExpandsAndUnloads) {
  ASSERT_FALSE(IsMapped(kModule)) << "this host must not be linked to the module";
  const size_t eventsBefore = UnitEvents().size();
  const std::vector<AnsiString> pagesBefore = RegisteredPages();

  const TPackageHandle handle = PackageLoad(kModule);
  EXPECT_EQ(PackagePath(handle), kModule);
  EXPECT_EQ(Describe(EventsSince(eventsBefore)),
            (std::vector<std::string>{"init Pvekpgprd", "init VekPgProd"}));
  EXPECT_EQ(PackageUnits(handle), (std::vector<AnsiString>{"Pvekpgprd", "VekPgProd"}));

  EXPECT_EQ(RegisterPackage(handle), 1);  // only unit VekPgProd has a Register
  std::vector<AnsiString> newPages;
  for (const AnsiString& page : RegisteredPages())
    if (std::find(pagesBefore.begin(), pagesBefore.end(), page) == pagesBefore.end())
      newPages.push_back(page);
  EXPECT_EQ(newPages, std::vector<AnsiString>{"Internet"});
  const std::vector<TComponentClass> classes = RegisteredClasses("Internet");
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_STREQ(classes[0]->ClassName, "TVekPageProducer");
  EXPECT_STREQ(classes[0]->TypeInfo->name(), "16TVekPageProducer");
  // The class reference is the module's exported one.
  EXPECT_EQ(static_cast<const void*>(classes[0]),
            PackageSymbol(handle, "_ZN16TVekPageProducer8ClassRefE"));
  // The class's type information is exported under its C++ name; its
  // virtual table stays inside.
  EXPECT_EQ(PackageSymbol(handle, "_ZTI16TVekPageProducer"),
            static_cast<const void*>(classes[0]->TypeInfo));
  EXPECT_EQ(PackageSymbol(handle, "_ZTV16TVekPageProducer"), nullptr);
  EXPECT_EQ(FindComponentClass("tvekpageproducer"), classes[0]);

  auto owner = std::make_unique<TComponent>(nullptr);
  TComponent* component = CreateComponent("TVekPageProducer", owner.get());
  ASSERT_NE(component, nullptr);
  EXPECT_EQ(component->ClassName(), "TVekPageProducer");
  ASSERT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->Components(0), component);
  auto* producer = dynamic_cast<TCustomContentProducer*>(component);
  ASSERT_NE(producer, nullptr);

  // The handlers are set through the inline accessors; the expansion runs
  // through the base class's virtual ContentFromString, also for the
  // re-entrant expansion of each pair body.
  int row = 0;
  SetHandlers(
      producer,
      [&](TObject*, const AnsiString& name, TStrings* params, AnsiString& text, int& state) {
        if (name == "rows") state = rsPairTag;
        if (name == "row") text = std::to_string(row) + ":" + params->Values("of");
        if (name == "end") state = rsStop;
      },
      [&](TObject* sender, const AnsiString&, TStrings* params, const AnsiString& body,
          AnsiString& text, int&) {
        const int n = std::stoi(params->Values("n"));
        for (row = 1; row <= n; ++row)
          text += dynamic_cast<TCustomContentProducer*>(sender)->ContentFromString(body);
      });
  EXPECT_EQ(producer->ContentFromString("<ul><#rows n=2#><li><#row of=2#></li><#/ROWS#></ul>"
                                        "<#end#>never"),
            "<ul><li>1:2</li><li>2:2</li></ul>");

  bool destroyed = false;
  new TSentinel(component, destroyed);  // owned by the producer
  owner.reset();                        // destroys the producer, which destroys the sentinel
  EXPECT_TRUE(destroyed);

  PackageUnload(handle);
  EXPECT_EQ(Describe(EventsSince(eventsBefore)),
            (std::vector<std::string>{"init Pvekpgprd", "init VekPgProd", "fini VekPgProd",
                                      "fini Pvekpgprd"}));
  EXPECT_TRUE(RegisteredClasses("Internet").empty());
  EXPECT_EQ(FindComponentClass("TVekPageProducer"), nullptr);
  EXPECT_NE(MessageOf([] {
              CreateComponent("TVekPageProducer", nullptr);
            }).find("no class named \"TVekPageProducer\""),
            std::string::npos);
  EXPECT_FALSE(IsMapped(kModule)) << "the module stayed loaded";

  // Unloading again is an error that changes nothing.
  EXPECT_NE(MessageOf([&] { PackageUnload(handle); }).find("is not a loaded package"),
            std::string::npos);
  EXPECT_THROW(PackageUnload(TPackageHandle::None), EPackageError);
  EXPECT_THROW(RegisterPackage(handle), EPackageError);
  EXPECT_EQ(UnitEvents().size(), eventsBefore + 4);
}

// The host, the module and its required packages share one VCL50 and one
// INET50, so the module's registration lands in the registry the host reads.
TEST(PackageHost, OneHostLayerPerProcess) {
  const TPackageHandle handle = PackageLoad(kModule);
  for (const std::string& library : package_host::HostLibraryFiles())
    EXPECT_EQ(CountMapped(library), 1) << library;
  EXPECT_EQ(FindComponentClass("TVekPageProducer"), nullptr);
  RegisterPackage(handle);
  EXPECT_NE(FindComponentClass("TVekPageProducer"), nullptr);
  PackageUnload(handle);
  EXPECT_EQ(FindComponentClass("TVekPageProducer"), nullptr);
}

// Each PackageLoad gives a handle of its own; the units run once, on the
// first load and the last unload.
TEST(PackageHost, LoadingTwiceSharesTheModule) {
  const size_t eventsBefore = UnitEvents().size();
  const TPackageHandle first = PackageLoad(kModule);
  const TPackageHandle second = PackageLoad(kModule);
  EXPECT_NE(first, second);
  EXPECT_EQ(EventsSince(eventsBefore).size(), 2u);
  RegisterPackage(second);

  PackageUnload(first);
  EXPECT_TRUE(IsMapped(kModule));
  EXPECT_NE(FindComponentClass("TVekPageProducer"), nullptr);
  EXPECT_EQ(EventsSince(eventsBefore).size(), 2u);
  EXPECT_THROW(PackageUnload(first), EPackageError);

  PackageUnload(second);
  EXPECT_FALSE(IsMapped(kModule));
  EXPECT_EQ(FindComponentClass("TVekPageProducer"), nullptr);
  EXPECT_EQ(EventsSince(eventsBefore).size(), 4u);
}

// ---- Load errors ---------------------------------------------------------------------

// Each failed load names the file and what is wrong, leaves nothing mapped,
// and finalises the units that were initialised before a unit failed.
TEST(PackageHost, LoadErrorsNameTheFileAndWhatIsWrong) {
  const std::string text =
      WriteTempFile(TempModuleName("vek-not-a-module"), "<html>not a module</html>\n");
  const std::string empty = WriteTempFile(TempModuleName("vek-empty"), "");
  struct Case {
    const char* label;
    std::string path;
    std::vector<std::string> mentions;
    std::vector<std::string> events;  // the units' steps it leaves behind
  };
  const Case cases[] = {
      {"missing file",
       testing::TempDir() + TempModuleName("vek-no-such-module"),
       {"no such file"},
       {}},
      {"text file", text, {"is not a loadable module"}, {}},
      {"empty file", empty, {"is not a loadable module"}, {}},
      {"no package entries",
       kNoEntriesModule,
       {"is not a package", "lacks the package entries \"Initialize\" and \"Finalize\""},
       {}},
      {"unit initialisation fails",
       kFailingInitModule,
       {"initialisation of unit Second failed", "unit Second cannot start"},
       {"init First", "fini First"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const size_t eventsBefore = UnitEvents().size();
    const std::string message = MessageOf([&] { PackageLoad(c.path); });
    EXPECT_NE(message.find("\"" + c.path + "\""), std::string::npos) << message;
    for (const std::string& m : c.mentions)
      EXPECT_NE(message.find(m), std::string::npos) << message;
    EXPECT_FALSE(IsMapped(c.path)) << "left loaded";
    EXPECT_EQ(Describe(EventsSince(eventsBefore)), c.events);
  }
  EXPECT_NE(MessageOf([] { PackageLoad(""); }).find("no file name"), std::string::npos);

  // The process stays usable: the real module still loads and unloads.
  const TPackageHandle handle = PackageLoad(kModule);
  EXPECT_EQ(RegisterPackage(handle), 1);
  PackageUnload(handle);
}

// ---- Resources -------------------------------------------------------------------------

std::uint32_t U32(const std::string& d, size_t at) {
  EXPECT_LE(at + 4, d.size());
  if (at + 4 > d.size()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(d.data()) + at;
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
std::uint16_t U16(const std::string& d, size_t at) {
  EXPECT_LE(at + 2, d.size());
  if (at + 2 > d.size()) return 0;
  return static_cast<std::uint16_t>(static_cast<unsigned char>(d[at]) |
                                    static_cast<unsigned char>(d[at + 1]) << 8);
}
unsigned U8(const std::string& d, size_t at) {
  return at < d.size() ? static_cast<unsigned char>(d[at]) : 0u;
}

bool SameResources(const TResourceList& a, const TResourceList& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].Type != b[i].Type || a[i].Name != b[i].Name || a[i].Language != b[i].Language ||
        a[i].Data != b[i].Data)
      return false;
  return true;
}

class PackageResourcesTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const size_t eventsBefore = UnitEvents().size();
    fromFile = ReadModuleResources(kModule);
    // Read from the file alone: nothing was loaded or run.
    EXPECT_FALSE(IsMapped(kModule));
    EXPECT_EQ(UnitEvents().size(), eventsBefore);

    const TPackageHandle handle = PackageLoad(kModule);
    fromModule = PackageResources(handle);
    units = PackageUnits(handle);
    PackageUnload(handle);
  }
  static const TResource& Get(TResourceType type, const char* name) {
    const TResource* r = FindModuleResource(fromModule, type, name);
    if (r == nullptr) throw std::runtime_error(std::string("no resource ") + name);
    return *r;
  }
  static inline TResourceList fromFile, fromModule;
  static inline std::vector<AnsiString> units;
};

TEST_F(PackageResourcesTest, FileAndLoadedModuleAgree) {
  EXPECT_EQ(fromModule.size(), 5u);  // DESCRIPTION, PACKAGEINFO, bitmap, icon, version
  EXPECT_TRUE(SameResources(fromFile, fromModule));
}

TEST_F(PackageResourcesTest, PackageInformation) {
  const TPackageContents c = DecodePackageContents(fromModule);
  EXPECT_EQ(c.Description, "101 VekPageProducer");
  EXPECT_TRUE(c.DesignTime);
  EXPECT_TRUE(c.RunTime);
  EXPECT_EQ(c.Requires, (std::vector<AnsiString>{"VCL50", "INET50"}));
  EXPECT_EQ(c.Units, (std::vector<AnsiString>{"Pvekpgprd", "VekPgProd"}));
  EXPECT_EQ(c.Units, units) << "the resource and the unit table disagree";
}

TEST_F(PackageResourcesTest, PaletteBitmapIsA24By24SixteenColourBmp) {
  const std::string& bmp = Get(TResourceType::Bitmap, "TVEKPAGEPRODUCER").Data;
  ASSERT_GE(bmp.size(), 54u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(U32(bmp, 2), bmp.size());  // file size
  const std::uint32_t pixels = U32(bmp, 10);
  EXPECT_EQ(U32(bmp, 14), 40u);  // BITMAPINFOHEADER
  EXPECT_EQ(static_cast<std::int32_t>(U32(bmp, 18)), 24);
  EXPECT_EQ(static_cast<std::int32_t>(U32(bmp, 22)), 24);
  EXPECT_EQ(U16(bmp, 26), 1);   // planes
  EXPECT_EQ(U16(bmp, 28), 4);   // bits per pixel: 16 colours
  EXPECT_EQ(U32(bmp, 30), 0u);  // uncompressed
  const std::uint32_t used = U32(bmp, 46);
  EXPECT_TRUE(used == 0 || used == 16) << used;
  EXPECT_EQ(pixels, 14u + 40u + 16u * 4u);    // the palette sits between
  EXPECT_EQ(bmp.size(), pixels + 24u * 12u);  // rows of 12 bytes
}

TEST_F(PackageResourcesTest, MainIconIsA32By32SixteenColourIco) {
  const std::string& ico = Get(TResourceType::Icon, "MAINICON").Data;
  ASSERT_GE(ico.size(), 22u);
  EXPECT_EQ(U16(ico, 0), 0);  // reserved
  EXPECT_EQ(U16(ico, 2), 1);  // an icon
  ASSERT_EQ(U16(ico, 4), 1);  // one image
  EXPECT_EQ(U8(ico, 6), 32u);
  EXPECT_EQ(U8(ico, 7), 32u);
  EXPECT_EQ(U8(ico, 8), 16u);  // colours
  EXPECT_EQ(U16(ico, 10), 1);  // planes
  EXPECT_EQ(U16(ico, 12), 4);  // bits per pixel
  const std::uint32_t size = U32(ico, 14), at = U32(ico, 18);
  EXPECT_EQ(at, 22u);
  EXPECT_EQ(std::uint64_t(at) + size, ico.size());
  // The image: header, palette, 4-bit colours and the 1-bit mask.
  EXPECT_EQ(U32(ico, at), 40u);
  EXPECT_EQ(static_cast<std::int32_t>(U32(ico, at + 4)), 32);
  EXPECT_EQ(static_cast<std::int32_t>(U32(ico, at + 8)), 64);  // colours and mask
  EXPECT_EQ(U16(ico, at + 12), 1);
  EXPECT_EQ(U16(ico, at + 14), 4);
  EXPECT_EQ(size, 40u + 16u * 4u + 32u * 16u + 32u * 4u);
}

TEST_F(PackageResourcesTest, VersionInformationByteForByte) {
  const TResource& res = Get(TResourceType::Version, "1");
  EXPECT_EQ(res.Language, 0x0419);
  const TVersionInfo v = DecodeVersionInfo(res.Data);
  EXPECT_EQ(VersionText(v.FileVersion), "1.0.0.0");
  EXPECT_EQ(VersionText(v.ProductVersion), "1.0.0.0");
  EXPECT_EQ(v.Language, 0x0419);
  EXPECT_EQ(v.CodePage, 1251);

  struct Expected {
    const char* key;
    std::string stored;  // code page 1251
    std::string utf8;
  };
  const Expected expected[] = {
      {"CompanyName", "Vek", "Vek"},
      {"FileDescription", "Vek - \xF3\xEB\xF7\xF8\xE5\xED\xED\xFB\xE9 PageProducer",
       "Vek - \xD1\x83\xD0\xBB\xD1\x87\xD1\x88\xD0\xB5\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB9 "
       "PageProducer"},
      {"FileVersion", "1.0.0.0", "1.0.0.0"},
      {"ProductVersion", "1.0.0.0", "1.0.0.0"},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.key);
    const TVersionInfo::Entry* entry = v.Find(e.key);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Value, e.stored);
    EXPECT_EQ(entry->Utf8, e.utf8);
  }
}

// A module file that is cut short, is not a module or carries no resources
// gives an error or an empty list, never a crash or a made-up resource.
TEST(ModuleFileResources, DamagedAndForeignFiles) {
  EXPECT_TRUE(ReadModuleResources(kNoEntriesModule).empty());
  const std::string text = WriteTempFile(TempModuleName("vek-foreign"), "not a module at all");
  EXPECT_NE(
      MessageOf([&] { ReadModuleResources(text); }).find(package_host::ForeignModuleMessage()),
      std::string::npos);
  EXPECT_NE(MessageOf([] {
              ReadModuleResources(testing::TempDir() + TempModuleName("vek-missing"));
            }).find("cannot be opened"),
            std::string::npos);

  const std::string whole = ReadFile(kModule);
  const TResourceList good = ReadModuleResources(kModule);
  for (size_t cut : {size_t(3), size_t(20), size_t(63), size_t(64), size_t(200), size_t(0x300),
                     whole.size() / 2, whole.size() - 1}) {
    SCOPED_TRACE(cut);
    const std::string path = WriteTempFile(TempModuleName("vek-cut"), whole.substr(0, cut));
    try {
      const TResourceList got = ReadModuleResources(path);
      EXPECT_TRUE(SameResources(got, good));  // the note lies before the cut
    } catch (const EPackageError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

TEST(ModuleFileResources, MalformedContainersAreRejected) {
  // One RCData resource "X" holding "abc".
  const std::string ok(
      "VRS1"
      "\1\0\0\0"
      "\12\0"
      "\0\0"
      "\1\0"
      "\0\0"
      "\3\0\0\0"
      "X\0\0\0"
      "abc\0",
      28);
  const TResourceList list = DecodeResourceContainer(ok, "t");
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].Type, TResourceType::RCData);
  EXPECT_EQ(list[0].Name, "X");
  EXPECT_EQ(list[0].Data, "abc");
  const std::string cases[] = {
      "",
      "VRS",
      "XXXX" + ok.substr(4),
      ok.substr(0, 20),
      ok.substr(0, 26),
      ok + "junk",
      std::string("VRS1\xFF\xFF\xFF\xFF", 8),
  };
  for (const std::string& c : cases) EXPECT_THROW(DecodeResourceContainer(c, "t"), EPackageError);
  EXPECT_THROW(DecodeVersionInfo("VVI1"), EPackageError);
  EXPECT_THROW(CodePageToUtf8("\x98", 1251), EPackageError);
  EXPECT_THROW(CodePageToUtf8("\xC3", 65001), EPackageError);
  EXPECT_THROW(CodePageToUtf8("a", 437), EPackageError);
  EXPECT_EQ(CodePageToUtf8("\xA8\xB8\xB9", 1251), "\xD0\x81\xD1\x91\xE2\x84\x96");  // Ё ё №
}

}  // namespace
