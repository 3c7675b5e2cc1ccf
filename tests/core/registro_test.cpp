// What the Registro window shows and copies, whatever draws it.
#include <gtest/gtest.h>

#include "form/registro.hpp"

namespace pasotune::test {
namespace {

TEST(Registro, TheFilterShowsErrorsAndWarningsOnlyAndTheSelectionCopiesWhatIsShown) {
  ListBox log;
  const char* lines[] = {
      "Conectando ...",                                           // 0
      "ERROR COM1: no existe el dispositivo /dev/ttyUSB0",        // 1
      "SET FREQ MAIN 432.1500",                                   // 2
      "NOT DONE velkor.conf línea 38: clave desconocida «sped»",  // 3
      "Velkor READY: TS-790 en COM1 (ERROR de eco leído)",        // 4: holds ERROR
      "Error: conexión rechazada",                                // 5
      "error en minúsculas: el programa no reacciona a él",       // 6
      "No fue posible conectar con Velkor.",                      // 7
      "Desconectado",                                             // 8
  };
  for (const char* line : lines) log.AddItem(line);
  Registro r(log);
  EXPECT_EQ(r.Rows(), 9u);
  EXPECT_EQ(MarkOf(lines[3]), LineMark::kWarning);
  EXPECT_EQ(MarkOf(lines[0]), LineMark::kNone);

  r.Select(2, false);
  r.Select(5, true);  // lines 2 to 5
  r.SetOnlyMarked(true);
  std::vector<std::size_t> shown;
  for (std::size_t row = 0; row < r.Rows(); ++row) shown.push_back(r.LineOf(row));
  EXPECT_EQ(shown, (std::vector<std::size_t>{1, 3, 4, 5, 7}));
  // Lines filtered out are neither shown nor copied.
  EXPECT_EQ(r.SelectedText("\r\n"), std::string(lines[3]) + "\r\n" + lines[4] + "\r\n" + lines[5]);
  EXPECT_EQ(r.CursorRow(), 3u);
  EXPECT_EQ(r.RowOf(2), 1u);
  EXPECT_EQ(r.RowOf(9), r.Rows());

  // New lines are taken in once, filtered as they come.
  log.AddItem("SET TONE 88.5");
  log.AddItem("ERROR ocupado");
  EXPECT_TRUE(r.CatchUp());
  EXPECT_FALSE(r.CatchUp());
  EXPECT_EQ(r.Rows(), 6u);
  EXPECT_EQ(r.Text(5), "ERROR ocupado");
  EXPECT_EQ(
      r.ShownText("\n").size(), 6u + [&] {
        std::size_t n = 0;
        for (std::size_t row = 0; row < r.Rows(); ++row) n += r.Text(row).size();
        return n;
      }());

  r.SetOnlyMarked(false);
  EXPECT_EQ(r.Rows(), 11u);
  EXPECT_EQ(r.SelectedText("\n"),
            std::string(lines[2]) + "\n" + lines[3] + "\n" + lines[4] + "\n" + lines[5]);
  r.SelectAll();
  EXPECT_EQ(r.SelectedText("\n") + "\n", r.ShownText("\n"));
}

TEST(Registro, TheBottomPlaceShowsTheLastRowsThatFitAndAlwaysTheLastOne) {
  const auto heights = [](std::size_t row) { return row == 3 ? 50 : 10; };
  for (auto [rows, view, top] : {std::tuple{0u, 100, 0u},
                                 {5u, 100, 0u},
                                 {5u, 20, 4u},
                                 {5u, 5, 4u},
                                 {4u, 55, 3u},
                                 {4u, 60, 2u}}) {
    EXPECT_EQ(BottomTop(rows, view, heights), top) << rows << " rows in " << view;
  }
}

}  // namespace
}  // namespace pasotune::test
