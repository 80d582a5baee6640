// The package host on Windows: loads PVekPgPrd.dll by path (this program is
// not linked to it), registers it, creates and runs the component through the
// registry, unloads it; and reads the module's Windows resources through the
// host layer, from the loaded module and from its file alone.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ContentProducer.h"
#include "Package.h"
#include "PackageResources.h"
#include "VekPgProd.h"

namespace {

// The DLLs are built next to this program.
std::string ProgramDirectory() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1);
}

const std::string kModule = ProgramDirectory() + "PVekPgPrd.dll";

bool IsMapped(const char* name) {
  return GetModuleHandleA(name) != nullptr;
}

std::vector<std::string> Describe(const std::vector<TUnitEvent>& events) {
  std::vector<std::string> out;
  for (const TUnitEvent& e : events)
    out.push_back((e.Step == TUnitStep::Initialization ? "init " : "fini ") + e.Unit);
  return out;
}

std::vector<TUnitEvent> EventsSince(size_t n) {
  const std::vector<TUnitEvent> all = UnitEvents();
  return std::vector<TUnitEvent>(all.begin() + static_cast<std::ptrdiff_t>(n), all.end());
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EPackageError& e) {
    return e.what();
  }
  return "(no EPackageError)";
}

TEST(WindowsPackageHost, LoadsRegistersCreatesExpandsAndUnloads) {
  ASSERT_FALSE(IsMapped("PVekPgPrd.dll")) << "this host must not be linked to the module";
  const size_t eventsBefore = UnitEvents().size();

  const TPackageHandle handle = PackageLoad(kModule);
  EXPECT_TRUE(IsMapped("PVekPgPrd.dll"));
  EXPECT_EQ(Describe(EventsSince(eventsBefore)),
            (std::vector<std::string>{"init Pvekpgprd", "init VekPgProd"}));

  EXPECT_EQ(RegisterPackage(handle), 1);
  const std::vector<TComponentClass> classes = RegisteredClasses("Internet");
  ASSERT_EQ(classes.size(), 1u);
  EXPECT_STREQ(classes[0]->ClassName, "TVekPageProducer");
  EXPECT_STREQ(classes[0]->TypeInfo->name(), "16TVekPageProducer");
  EXPECT_EQ(static_cast<const void*>(classes[0]),
            PackageSymbol(handle, "_ZN16TVekPageProducer8ClassRefE"));
  // The class's type information is exported under its C++ name.
  EXPECT_EQ(PackageSymbol(handle, "_ZTI16TVekPageProducer"),
            static_cast<const void*>(classes[0]->TypeInfo));
  EXPECT_EQ(PackageSymbol(handle, "_ZTV16TVekPageProducer"), nullptr);  // kept inside

  {
    auto owner = std::make_unique<TComponent>(nullptr);
    TComponent* component = CreateComponent("TVekPageProducer", owner.get());
    auto* producer = dynamic_cast<TCustomContentProducer*>(component);
    ASSERT_NE(producer, nullptr);
    ASSERT_EQ(producer->ClassName(), "TVekPageProducer");
    auto* vek = static_cast<TVekPageProducer*>(producer);
    int row = 0;
    vek->SetOnVekTag(
        [&](TObject*, const AnsiString& name, TStrings* params, AnsiString& text, int& state) {
          if (name == "rows") state = rsPairTag;
          if (name == "row") text = std::to_string(row) + ":" + params->Values("of");
          if (name == "end") state = rsStop;
        });
    vek->SetOnVekPairTag([&](TObject* sender, const AnsiString&, TStrings* params,
                             const AnsiString& body, AnsiString& text, int&) {
      const int n = std::stoi(params->Values("n"));
      for (row = 1; row <= n; ++row)
        text += dynamic_cast<TCustomContentProducer*>(sender)->ContentFromString(body);
    });
    EXPECT_EQ(producer->ContentFromString("<ul><#rows n=2#><li><#row of=2#></li><#/ROWS#></ul>"
                                          "<#end#>never"),
              "<ul><li>1:2</li><li>2:2</li></ul>");
  }  // the owner destroys the producer while the module is loaded

  PackageUnload(handle);
  EXPECT_EQ(Describe(EventsSince(eventsBefore)),
            (std::vector<std::string>{"init Pvekpgprd", "init VekPgProd", "fini VekPgProd",
                                      "fini Pvekpgprd"}));
  EXPECT_TRUE(RegisteredClasses("Internet").empty());
  EXPECT_FALSE(IsMapped("PVekPgPrd.dll")) << "the module stayed loaded";
  EXPECT_NE(MessageOf([&] { PackageUnload(handle); }).find("is not a loaded package"),
            std::string::npos);
}

// Each PackageLoad gives a handle of its own; the units run once, on the
// first load and the last unload, and the DLL stays mapped until then.
TEST(WindowsPackageHost, LoadingTwiceSharesTheModule) {
  const size_t eventsBefore = UnitEvents().size();
  const TPackageHandle first = PackageLoad(kModule);
  const TPackageHandle second = PackageLoad(kModule);
  EXPECT_NE(first, second);
  EXPECT_EQ(EventsSince(eventsBefore).size(), 2u);
  RegisterPackage(second);

  PackageUnload(first);
  EXPECT_TRUE(IsMapped("PVekPgPrd.dll"));
  EXPECT_NE(FindComponentClass("TVekPageProducer"), nullptr);
  EXPECT_EQ(EventsSince(eventsBefore).size(), 2u);

  PackageUnload(second);
  EXPECT_FALSE(IsMapped("PVekPgPrd.dll"));
  EXPECT_EQ(FindComponentClass("TVekPageProducer"), nullptr);
  EXPECT_EQ(EventsSince(eventsBefore).size(), 4u);
}

TEST(WindowsPackageHost, LoadErrorsNameTheFileAndWhatIsWrong) {
  const std::string text = testing::TempDir() + "vek-not-a-module.dll";
  std::ofstream(text, std::ios::binary) << "<html>not a module</html>\n";
  struct Case {
    const char* label;
    std::string path;
    const char* dll;  // the name it would be mapped under
    std::vector<std::string> mentions;
    std::vector<std::string> events;  // the units' steps it leaves behind
  };
  const Case cases[] = {
      {"missing file",
       ProgramDirectory() + "NoSuchModule.dll",
       "NoSuchModule.dll",
       {"no such file"},
       {}},
      {"text file", text, "vek-not-a-module.dll", {"is not a loadable module"}, {}},
      {"no package entries",
       ProgramDirectory() + "vek_fixture_noentries.dll",
       "vek_fixture_noentries.dll",
       {"is not a package", "lacks the package entries \"Initialize\" and \"Finalize\""},
       {}},
      {"unit initialisation fails",
       ProgramDirectory() + "vek_fixture_failinginit.dll",
       "vek_fixture_failinginit.dll",
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
    EXPECT_FALSE(IsMapped(c.dll)) << "left loaded";
    EXPECT_EQ(Describe(EventsSince(eventsBefore)), c.events);
  }

  // The process stays usable: the real module still loads and unloads.
  const TPackageHandle handle = PackageLoad(kModule);
  EXPECT_EQ(RegisterPackage(handle), 1);
  PackageUnload(handle);
}

// ---- Resources -------------------------------------------------------------------------

std::uint32_t U32(const std::string& d, size_t at) {
  if (at + 4 > d.size()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(d.data()) + at;
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
std::uint16_t U16(const std::string& d, size_t at) {
  if (at + 2 > d.size()) return 0;
  return static_cast<std::uint16_t>(static_cast<unsigned char>(d[at]) |
                                    static_cast<unsigned char>(d[at + 1]) << 8);
}

class WindowsResourcesTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    const size_t eventsBefore = UnitEvents().size();
    fromFile = ReadModuleResources(kModule);
    EXPECT_FALSE(IsMapped("PVekPgPrd.dll")) << "reading the file ran the module";
    EXPECT_EQ(UnitEvents().size(), eventsBefore);
    const TPackageHandle handle = PackageLoad(kModule);
    fromModule = PackageResources(handle);
    PackageUnload(handle);
  }
  static const TResource& Get(TResourceType type, const char* name) {
    const TResource* r = FindModuleResource(fromModule, type, name);
    if (r == nullptr) throw std::runtime_error(std::string("no resource ") + name);
    return *r;
  }
  static inline TResourceList fromFile, fromModule;
};

TEST_F(WindowsResourcesTest, FileAndLoadedModuleAgree) {
  ASSERT_EQ(fromFile.size(), fromModule.size());
  EXPECT_EQ(fromModule.size(), 5u);  // DESCRIPTION, PACKAGEINFO, bitmap, icon, version
  for (size_t i = 0; i < fromFile.size(); ++i) {
    EXPECT_EQ(fromFile[i].Type, fromModule[i].Type);
    EXPECT_EQ(fromFile[i].Name, fromModule[i].Name);
    EXPECT_EQ(fromFile[i].Language, fromModule[i].Language);
    EXPECT_EQ(fromFile[i].Data, fromModule[i].Data);
  }
}

TEST_F(WindowsResourcesTest, PackageInformation) {
  const TPackageContents c = DecodePackageContents(fromModule);
  EXPECT_EQ(c.Description, "101 VekPageProducer");
  EXPECT_TRUE(c.DesignTime);
  EXPECT_TRUE(c.RunTime);
  EXPECT_EQ(c.Requires, (std::vector<AnsiString>{"VCL50", "INET50"}));
  EXPECT_EQ(c.Units, (std::vector<AnsiString>{"Pvekpgprd", "VekPgProd"}));
}

TEST_F(WindowsResourcesTest, ImagesAsBmpAndIcoFiles) {
  const std::string& bmp = Get(TResourceType::Bitmap, "TVEKPAGEPRODUCER").Data;
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(U32(bmp, 2), bmp.size());
  EXPECT_EQ(U32(bmp, 10), 14u + 40u + 16u * 4u);
  EXPECT_EQ(U32(bmp, 18), 24u);
  EXPECT_EQ(U32(bmp, 22), 24u);
  EXPECT_EQ(U16(bmp, 28), 4);
  EXPECT_EQ(bmp.size(), 14u + 40u + 16u * 4u + 24u * 12u);

  const std::string& ico = Get(TResourceType::Icon, "MAINICON").Data;
  ASSERT_EQ(U16(ico, 4), 1);  // one image
  EXPECT_EQ(static_cast<unsigned char>(ico[6]), 32u);
  EXPECT_EQ(static_cast<unsigned char>(ico[7]), 32u);
  EXPECT_EQ(static_cast<unsigned char>(ico[8]), 16u);
  EXPECT_EQ(U16(ico, 12), 4);
  EXPECT_EQ(U32(ico, 18), 22u);
  EXPECT_EQ(U32(ico, 14), 40u + 16u * 4u + 32u * 16u + 32u * 4u);
  EXPECT_EQ(ico.size(), 22u + U32(ico, 14));
}

TEST_F(WindowsResourcesTest, VersionInformationByteForByte) {
  const TResource& res = Get(TResourceType::Version, "1");
  EXPECT_EQ(res.Language, 0x0419);
  const TVersionInfo v = DecodeVersionInfo(res.Data);
  EXPECT_EQ(VersionText(v.FileVersion), "1.0.0.0");
  EXPECT_EQ(VersionText(v.ProductVersion), "1.0.0.0");
  EXPECT_EQ(v.Language, 0x0419);
  EXPECT_EQ(v.CodePage, 1251);
  const std::pair<const char*, std::string> expected[] = {
      {"CompanyName", "Vek"},
      {"FileDescription", "Vek - \xF3\xEB\xF7\xF8\xE5\xED\xED\xFB\xE9 PageProducer"},
      {"FileVersion", "1.0.0.0"},
      {"ProductVersion", "1.0.0.0"},
  };
  ASSERT_EQ(v.Strings.size(), 4u);
  for (const auto& e : expected) {
    SCOPED_TRACE(e.first);
    const TVersionInfo::Entry* entry = v.Find(e.first);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->Value, e.second);  // code page 1251
  }
}

TEST(WindowsModuleFile, ForeignAndMissingFiles) {
  const std::string text = testing::TempDir() + "vek-not-a-module.dll";
  std::ofstream(text, std::ios::binary) << "not a module";
  EXPECT_NE(MessageOf([&] { ReadModuleResources(text); }).find("is not a Windows module"),
            std::string::npos);
  EXPECT_NE(MessageOf([&] {
              ReadModuleResources(testing::TempDir() + "vek-missing.dll");
            }).find("cannot be opened"),
            std::string::npos);
  // A module without resources gives an empty list.
  EXPECT_TRUE(ReadModuleResources(ProgramDirectory() + "vek_fixture_noentries.dll").empty());
}

}  // namespace
