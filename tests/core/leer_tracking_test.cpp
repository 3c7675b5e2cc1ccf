#include <gtest/gtest.h>

#include <ostream>

#include "tracking/leer_tracking.hpp"

namespace pasotune {
namespace {

constexpr char kKeep[] = "\x01";  // the field keeps its previous value
constexpr std::int32_t kKeepHz = -1;

struct Row {
  const char* record;
  const char* satelite;
  std::int32_t bajada;
  std::int32_t subida;
  const char* modoBajada;
  const char* modoSubida;
};

void PrintTo(const Row& row, std::ostream* os) {
  *os << '"' << row.record << '"';
}

class LeerTrackingTable : public testing::TestWithParam<Row> {};

TEST_P(LeerTrackingTable, SetsOnlyWhatTheRecordCarries) {
  const Row& row = GetParam();
  Module1 m;
  m.Satelite = "OLD";
  m.FrecBajada = 111;
  m.FrecSubida = 222;
  m.ModoBajada = "OLDDM";
  m.ModoSubida = "OLDUM";

  LeerTracking(row.record, m);

  EXPECT_EQ(m.Satelite, row.satelite == std::string(kKeep) ? "OLD" : row.satelite);
  EXPECT_EQ(m.FrecBajada, row.bajada == kKeepHz ? 111 : row.bajada);
  EXPECT_EQ(m.FrecSubida, row.subida == kKeepHz ? 222 : row.subida);
  EXPECT_EQ(m.ModoBajada, row.modoBajada == std::string(kKeep) ? "OLDDM" : row.modoBajada);
  EXPECT_EQ(m.ModoSubida, row.modoSubida == std::string(kKeep) ? "OLDUM" : row.modoSubida);
}

INSTANTIATE_TEST_SUITE_P(
    Records, LeerTrackingTable,
    testing::Values(
        Row{"SNAO-07 DN145950000 UP432150000 DMUSB UMLSB", "AO-07", 145950000, 432150000, "USB",
            "LSB"},
        // A key inside a name is not a field.
        Row{"SNGRUMPY DN145950000 UP432150000 DMFM UMFM", "GRUMPY", 145950000, 432150000, "FM",
            "FM"},
        Row{"SNHUMSAT-D DN437365000 UP145950000 DMFM UMFM", "HUMSAT-D", 437365000, 145950000, "FM",
            "FM"},
        Row{"SNUPDNSAT DN145950000 UP432150000", "UPDNSAT", 145950000, 432150000, kKeep, kKeep},
        Row{"SN AO-07 DN145950000 UP432150000 DMFM UMFM", kKeep, 145950000, 432150000, "FM", "FM"},
        Row{"DN1268000000 UP145900000 DM UMFM", kKeep, 1268000000, 145900000, "", "FM"},
        Row{"SNAO-07", kKeep, kKeepHz, kKeepHz, kKeep, kKeep},
        Row{"", kKeep, kKeepHz, kKeepHz, kKeep, kKeep},
        Row{"sn AO-07 dn145950000", kKeep, kKeepHz, kKeepHz, kKeep, kKeep},
        Row{"UP435000000", kKeep, kKeepHz, 435000000, kKeep, kKeep},
        // Values shorter than nine digits are read whole, not with the next field.
        Row{"DN0 UP0 DMFM", kKeep, 0, 0, "FM", kKeep}, Row{"DN12 UP7", kKeep, 12, 7, kKeep, kKeep},
        Row{"DN2147483647 UP2147483648", kKeep, 2147483647, kKeepHz, kKeep, kKeep},
        // Eleven digits are out of range, never cut to ten.
        Row{"DN14595000012 UP43215000001", kKeep, kKeepHz, kKeepHz, kKeep, kKeep},
        // Anything but digits keeps the previous value.
        Row{"DN UP-5 DMFM", kKeep, kKeepHz, kKeepHz, "FM", kKeep},
        Row{"DN145.95 UP+432150000", kKeep, kKeepHz, kKeepHz, kKeep, kKeep},
        // A control character separates fields as a blank does.
        Row{"DN145950000\tUP432150000", kKeep, 145950000, 432150000, kKeep, kKeep},
        Row{"DN", kKeep, kKeepHz, kKeepHz, kKeep, kKeep},
        // A mode key at the very end sets the empty mode.
        Row{"DMUSB UM", kKeep, kKeepHz, kKeepHz, "USB", ""},
        Row{"UMLSB DM", kKeep, kKeepHz, kKeepHz, "", "LSB"},
        // A name or a mode ends at a blank or at any control character.
        Row{"SNAO\t07 DMUSB\r\n", "AO", kKeepHz, kKeepHz, "USB", kKeep},
        // A quoted name is what lies between the quotes, blanks included;
        // keys inside it are part of it.
        Row{"SN\"FO-29\" DM\"CW\" UMUSB\n", "FO-29", kKeepHz, kKeepHz, "\"CW\"", "USB"},
        Row{"SN\"ISS (ZARYA)\" AZ123,4 EL5,6 DN145800000 UP145200000 DMFM UMFM\r\n", "ISS (ZARYA)",
            145800000, 145200000, "FM", "FM"},
        Row{"SN\"FOO DN1 UMX\" DN145950000 UMLSB", "FOO DN1 UMX", 145950000, kKeepHz, kKeep, "LSB"},
        Row{"SN\"ISS (ZARYA) DN145800000", kKeep, 145800000, kKeepHz, kKeep, kKeep},
        Row{"SN\"\" DN1", kKeep, 1, kKeepHz, kKeep, kKeep},
        Row{"SN\"AO\r\n07\" DMFM", kKeep, kKeepHz, kKeepHz, "FM", kKeep},
        // Orbitron's own record: AZ and EL with the system's separator.
        Row{"SNAO-07 AZ123.4 EL5.6 DN145950000 UP432150000 DMUSB UMLSB\r\n", "AO-07", 145950000,
            432150000, "USB", "LSB"},
        Row{"DMFM\r\nSET TONE 88.5 UMUSB", kKeep, kKeepHz, kKeepHz, "FM", "USB"},
        Row{"SNAO-07\r\nDN145950000\rUP432150000\nDMUSB\x01UMLSB\x7F", "AO-07", 145950000,
            432150000, "USB", "LSB"},
        Row{"SNAO-07\x1B", "AO-07", kKeepHz, kKeepHz, kKeep, kKeep},
        Row{"DM\tUSB UM\x1FLSB", kKeep, kKeepHz, kKeepHz, "", ""},
        // C1 controls (U+0080 to U+009F) too; a no-break space is no control.
        Row{"DMUSB\xC2\x85X UMFM\xC2\x9F", kKeep, kKeepHz, kKeepHz, "USB", "FM"},
        Row{"DMUSB\xC2\xA0X", kKeep, kKeepHz, kKeepHz, "USB\xC2\xA0X", kKeep},
        Row{"SNSatélite-Ω DMFM UMfm", "Satélite-Ω", kKeepHz, kKeepHz, "FM", "fm"},
        // The first field of a key wins.
        Row{"DMUSB DMLSB UMFM UMAM", kKeep, kKeepHz, kKeepHz, "USB", "FM"},
        Row{"  SNISS  DN145800000  UMFM", "ISS", 145800000, kKeepHz, kKeep, "FM"}));

TEST(LeerTracking, SaysWhichFrequencyDidNotFit) {
  Module1 m;
  const Lectura a = LeerTracking("DN10489550000 UP2400050000", m);
  EXPECT_EQ(a.bajadaNoCabe, "10489550000");
  EXPECT_EQ(a.subidaNoCabe, "2400050000");
  EXPECT_FALSE(a.bajadaLeida);
  const Lectura b = LeerTracking("DN145950000 UP" + std::string(40, '9'), m);
  EXPECT_TRUE(b.bajadaLeida);
  EXPECT_EQ(b.bajadaNoCabe, "");
  EXPECT_EQ(b.subidaNoCabe, std::string(24, '9') + "…");
  const Lectura c = LeerTracking("DN-5 UP", m);
  EXPECT_EQ(c.bajadaNoCabe + c.subidaNoCabe, "");
  EXPECT_FALSE(c.bajadaLeida || c.subidaLeida);
}

TEST(LeerTracking, FieldsPersistAcrossRecords) {
  Module1 m;
  LeerTracking("SNAO-07 DN145950000 UP432150000 DMUSB UMLSB", m);
  LeerTracking("UP432100000", m);
  LeerTracking("SNFO-29 DMCW", m);
  EXPECT_EQ(m.Satelite, "FO-29");
  EXPECT_EQ(m.FrecBajada, 145950000);
  EXPECT_EQ(m.FrecSubida, 432100000);
  EXPECT_EQ(m.ModoBajada, "CW");
  EXPECT_EQ(m.ModoSubida, "LSB");
}

}  // namespace
}  // namespace pasotune
