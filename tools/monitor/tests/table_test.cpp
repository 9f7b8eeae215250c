// What the monitor's window shows: record texts as KESTRO reads them (Windows-1252), the
// properties column, and the status line in Spanish.
#include "table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

monitor::Row row_of(const monitor::Record& record) {
    monitor::Row row;
    row.record = record;
    row.properties = monitor::split_properties(record.propiedad);
    row.message = 3;
    return row;
}

TEST(MonitorTable, ShowsTheEightBitTextsAsWindows1252) {
    monitor::Record r;
    r.guid = "2O2Fr$t4X7Zf8NOew3FLOH";
    r.texto = "Sal\xF3n\x96" "comedor \x93" "A\x94\x85";
    r.entidad = "IfcSpace";
    r.ficheros = "edificio.ifc#";
    r.dx = 4.25;
    r.dy = -0.0004;
    r.codigo = 1026;
    r.propiedad = "#Precio#45,00 \x80/m\xB2#Nota#\x81\x8D#VOLUMEN#3.000000#AREA#15.000000";
    const monitor::Row row = row_of(r);
    EXPECT_EQ(monitor::cell_text(row, 0), L"3");
    EXPECT_EQ(monitor::cell_text(row, 1), L"2O2Fr$t4X7Zf8NOew3FLOH");
    EXPECT_EQ(monitor::cell_text(row, 2), L"Sal\u00F3n\u2013comedor \u201CA\u201D\u2026");
    EXPECT_EQ(monitor::cell_text(row, 6), L"4.250");
    EXPECT_EQ(monitor::cell_text(row, 7), L"-0.000");
    EXPECT_EQ(monitor::cell_text(row, 9), L"1026");
    EXPECT_EQ(monitor::cell_text(row, 10), L"3.000000");
    EXPECT_EQ(monitor::cell_text(row, 11), L"15.000000");
    // Bytes that Windows-1252 leaves unassigned keep their value.
    EXPECT_EQ(monitor::cell_text(row, 12), L"Precio = 45,00 \u20AC/m\u00B2; Nota = \u0081\u008D");
    EXPECT_EQ(monitor::cell_text(row, monitor::column_count), L"");
    ASSERT_EQ(monitor::column_count, 13);
    EXPECT_STREQ(monitor::columns[2].title, L"Nombre");
}

TEST(MonitorTable, StatusLineNamesWhatArrivedOrWhyItWasRejected) {
    std::vector<unsigned char> block(2 * monitor::record_size, 0);
    monitor::Message two = monitor::decode_message(2, block.size(), block.data());
    EXPECT_EQ(monitor::status_received(5, two, block.size(), 65538),
              L"Mensaje 5: 2 registros, 24672 bytes, ventana del visor 65538");

    std::memset(block.data() + monitor::record_size + monitor::tipo_field.offset, 'x', monitor::tipo_field.width);
    EXPECT_EQ(monitor::status_received(6, monitor::decode_message(2, block.size(), block.data()), block.size(), 1),
              L"Mensaje 6 rechazado: registro 1: tipo no termina en cero dentro de sus 100 bytes");
    EXPECT_EQ(monitor::status_received(7, monitor::decode_message(1, 5, block.data()), 5, 1),
              L"Mensaje 7 rechazado: cbData 5 no es dwData 1 \u00D7 12336");
    EXPECT_EQ(monitor::status_received(8, monitor::missing_message(), 0, 1), L"Mensaje 8 rechazado: lParam es nulo");

    EXPECT_EQ(monitor::status_guid_sent("G\x80", 42, true, 0, 60),
              L"GUID G\u20AC enviado a la ventana del visor 42: entregado, resultado del visor 0 "
              L"(su respuesta al mensaje, no si encontr\u00F3 el elemento)");
    EXPECT_EQ(monitor::status_guid_sent("G", 42, false, 0, 60),
              L"GUID G NO entregado a la ventana del visor 42: sin respuesta en 60 s, o la ventana ya no existe");
}

}  // namespace
