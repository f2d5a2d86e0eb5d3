#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

The seeds are small hand-made cases: good frames and packets, the usual
file encodings, a map description with a single value and a curve. The
structured targets read their input with libFuzzer's FuzzedDataProvider,
which takes numbers from the end of the input and byte runs from the front;
Provider below builds inputs the same way.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus")


def frame(payload, to=0x10, frm=0xF1):
    n = len(payload)
    head = [0x80 + n, to, frm] if n <= 16 else [0x80, to, frm, n]
    body = head + list(payload)
    return bytes(body + [sum(body) & 0xFF])


def answer(payload):
    return frame(payload, to=0xF1, frm=0x10)


class Provider:
    """Mirrors FuzzedDataProvider: integers from the back, bytes from the front."""

    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order they are consumed

    def integral(self, value, lo, hi, size):
        rng = hi - lo
        v = value - lo
        taken = []
        offset = 0
        while offset < size * 8 and (rng >> offset) > 0:
            taken.append(0)
            offset += 8
        # The first byte consumed becomes the most significant.
        for i in range(len(taken)):
            shift = 8 * (len(taken) - 1 - i)
            taken[i] = (v >> shift) & 0xFF
        self.back += bytes(taken)

    def boolean(self, b):
        self.integral(1 if b else 0, 0, 255, 1)

    def raw(self, data):
        self.front += bytes(data)

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    folder = os.path.join(OUT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def kline():
    diag = [0x61, 0x0F] + [(i * 37) & 0xFF for i in range(51)]
    write("fuzz_kline_frame", "start_request", frame([0x81]))
    write("fuzz_kline_frame", "start_answer", answer([0xC1, 0x6B, 0x8F]))
    write("fuzz_kline_frame", "diag_answer_long", answer(diag))
    write("fuzz_kline_frame", "bad_checksum", frame([0x3E, 0x01])[:-1] + b"\x00")
    write("fuzz_kline_frame", "echo_then_answer", frame([0x21, 0x0F]) + answer(diag))

    session = [
        ([0x81], [0xC1, 0x6B, 0x8F]),
        ([0x10, 0x81, 0x26], [0x50, 0x81]),
        ([0x3E, 0x01], [0x7E]),
        ([0x30, 0x0F, 0x06, 0x01], [0x70, 0x0F, 0x06, 0x01]),
        ([0x23, 0x00, 0xF3, 0x00, 0x08], [0x63] + list(b"SEEDSEED")),
    ]
    for fast in (False, True):
        p = Provider()
        p.integral(1, 0, 4, 8)  # "38400"
        p.boolean(fast)
        p.boolean(True)  # run the session start
        for request, reply in session:
            chunk = frame(request) + answer(reply)
            p.integral(len(chunk), 0, 300, 8)
            p.raw(chunk)
        # Two polls, a read of 0x60 bytes, a write, the stop.
        for _ in range(2):
            p.integral(0, 0, 7, 4)
            chunk = frame([0x21, 0x0F]) + answer(diag)
            p.integral(len(chunk), 0, 300, 8)
            p.raw(chunk)
        p.integral(1, 0, 7, 4)
        p.integral(0x1234, 0, 0xFFFF, 2)
        p.integral(0x60, 0, 0xFF, 1)
        chunk = frame([0x23, 0x00, 0x12, 0x34, 0x60]) + answer([0x63] + [7] * 0x60)
        p.integral(len(chunk), 0, 300, 8)
        p.raw(chunk)
        p.integral(2, 0, 7, 4)
        p.integral(0x7CF7, 0, 0xFFFF, 2)
        p.integral(4, 1, 0x40, 1)
        chunk = frame([0x3D, 0x00, 0x7C, 0xF7, 4] + [0x80] * 4) + answer([0x7D])
        p.integral(len(chunk), 0, 300, 8)
        p.raw(chunk)
        p.integral(4, 0, 7, 4)
        chunk = frame([0x20]) + answer([0x60])
        p.integral(len(chunk), 0, 300, 8)
        p.raw(chunk)
        write("fuzz_kline_exchange", "session_fast" if fast else "session", p.bytes())

    # No ECU: every answer is only the echo, the link drops and reopens.
    p = Provider()
    p.integral(0, 0, 4, 8)
    p.boolean(False)
    p.boolean(False)
    for i in range(13):
        if i == 11:
            p.boolean(True)  # the eleventh error dropped the link: reopen
        p.integral(3, 0, 7, 4)
        chunk = frame([0x3E, 0x01])
        p.integral(len(chunk), 0, 300, 8)
        p.raw(chunk)
    write("fuzz_kline_exchange", "echo_only", p.bytes())


def lc1():
    def packet(word, function=0):
        b0 = 0x43 | (function << 2)
        return bytes([0xB2, 0x82, b0, 0x13, (word >> 7) & 0x7F, word & 0x7F])

    write("fuzz_lc1_stream", "readings", packet(500) + packet(0) + packet(1539) + packet(1540))
    write("fuzz_lc1_stream", "warm_up", packet(700, function=4) + packet(500))
    write("fuzz_lc1_stream", "out_of_step", b"\x13\xB2\x00\xB2" + packet(480) + b"\xB2\x82\x43")


def config():
    lines = ["Тип ECU=обычный", "Ecu Com=COM1", "Скорость ECU COM=10400", "Писать логи=да",
             "Коэф. обучения соседних РТ="]
    text = "\r\n".join(lines) + "\r\n"
    write("fuzz_config", "cp1251", text.encode("cp1251"))
    write("fuzz_config", "utf8", text.replace("\r\n", "\n").encode("utf-8"))
    write("fuzz_config", "utf8_bom", b"\xEF\xBB\xBF" + text.encode("utf-8"))
    write("fuzz_config", "utf16le", b"\xFF\xFE" + text.encode("utf-16-le"))
    write("fuzz_config", "utf16be", b"\xFE\xFF" + text.encode("utf-16-be"))
    write("fuzz_config", "ascii_cr_only", b"Ecu Com=/dev/ttyUSB0\rTaimaut=20\r\r")


def firmware():
    rows = [600, 720, 840, 1000, 1200, 1400, 1600, 1840, 2080, 2400, 2800, 3200, 3600, 4200,
            5000, 8000]
    rpm_map = []
    for m in range(256):
        k = max(i for i in range(16) if rows[i] <= max(m * 40, 600))
        rpm_map.append(16 * k if m * 40 >= rows[k] else 0)
    cols = [0, 3, 6, 9, 12, 16, 20, 25, 30, 36, 42, 50, 60, 70, 85, 100]
    tps_map = []
    for m in range(256):
        k = max(i for i in range(16) if cols[i] <= min(m, 100))
        tps_map.append(min(255, 16 * k))
    marker = bytes([0x90, 0x61, 0x3C, 0xE5, 0x55])
    write("fuzz_firmware_file", "grid_maps", bytes(rpm_map) + bytes(tps_map) + marker)
    write("fuzz_firmware_file", "grid_maps_step30",
          bytes(rpm_map) + bytes(tps_map) + bytes([0x90, 0x61, 0x3C, 0xE5, 0x54]))
    write("fuzz_firmware_file", "short", b"\x02\x00\x30")


def maps():
    single = ('<Обороты_ХХ graf="1D" address="00005A10" Смещение_значения="0" Шаг="10" '
              'Делитель_шага="1" Смещение="0" Обратный_мультипликативный="0" MAX="1500" '
              'MIN="600"/>')
    curve = ('<Коррекция graf="2D" address="00005A20" Тип_тарировки="1" Число_точек_по_оси_X="16" '
             'Первая_точка_по_оси_X="-40" Последняя_точка_по_оси_X="110" Ось_X="Температура" '
             'Ось_Y="Коэф" Смещение_по_оси_Y="0" Шаг_по_Y="1" Делитель_шага_по_Y="128"/>')
    doc = ('<?xml version="1.0" encoding="windows-1251"?>\r\n<!-- карта -->\r\n<Карта>\r\n'
           '  <Группа>текст\r\n    ' + single + '\r\n    ' + curve +
           '\r\n  </Группа>\r\n  <![CDATA[x]]>\r\n</Карта>\r\n')
    write("fuzz_map_document", "cp1251", doc.encode("cp1251"))
    write("fuzz_map_document", "utf8_bom", b"\xEF\xBB\xBF" + doc.encode("utf-8"))
    write("fuzz_map_document", "unclosed", "<a><b graf=\"2D\"></a>".encode())
    two_axes = ('<Карта><УОЗ graf="3D" address="00006DC8" Число_точек_по_оси_X="16" '
                'Число_точек_по_оси_Y="16" Первая_точка_по_оси_X="0" Последняя_точка_по_оси_X="100" '
                'Первая_точка_по_оси_Y="600" Последняя_точка_по_оси_Y="6600" '
                'Порядок_ячеек="столбцы" Тип_тарировки="1" Смещение_значения="0" Шаг="1" '
                'Делитель_шага="2" Смещение="0" MIN="-10" MAX="50,5"/></Карта>')
    write("fuzz_map_document", "map3d", two_axes.encode("cp1251"))

    # Plain curve and plain single value for the codec (see TableCodecFuzz.cpp).
    for name, curve_kind in (("curve", True), ("single", False)):
        p = Provider()
        p.boolean(curve_kind)
        p.boolean(True)
        p.integral(1 if curve_kind else 2, 0, 4, 4)  # type "1" / "2"
        p.boolean(False)  # a well-formed address
        p.integral(0x5A10, 0, 0xFFFF, 2)
        p.boolean(False)  # X from the first and last point
        p.integral(1, 0, 3, 4)  # not inverse
        p.boolean(True)
        p.integral(16, -2, 1000, 4)
        for i in range(6):
            p.integral(0, 0, 3, 4)  # plain numbers
            p.integral(i % 3, 0, 7 if i % 2 else 5, 8)
        p.raw(bytes((i * 29) & 0xFF for i in range(64)))
        write("fuzz_table_codec", name, p.bytes())


# The live logs' captions, grid rows 1..37 (see LiveTexts.cpp).
LOG_CAPTIONS = [
    "Рабочая точка RPM_GBC_3D", "Температура охлаждающей жидкости", "Соотношение воздух/топливо",
    "AFR LC-1", "Коэффициент коррекции", "Положение дроссельной заслонки",
    "Скорость вращения двигателя", "Скорость вращения двигателя на ХХ", "Время цикла",
    "Желаемое положение РХХ", "Текущее положение РХХ", "Коэф. коррекции времени впрыска",
    "Фаза впрыска", "Угол опережения зажигания", "Коррекция УОЗ цилиндра 1",
    "Коррекция УОЗ цилиндра 2", "Коррекция УОЗ цилиндра 3", "Коррекция УОЗ цилиндра", "АЦП ДД",
    "АЦП ДМРВ", "АЦП напряжения бортсети", "АЦП RCO", "АЦП ДПДЗ", "АЦП ДТОЖ", "АЦП ДТВ",
    "Изменение АЦП ДК", "Октан корректор", "Скорость автомобиля", "Желаемые обороты ХХ",
    "Температура воздуха", "АЦП ДК", "Коэф. коррекции GTC при обогащении",
    "Коэф. коррекции GTC при обеднении", "Длительность импульса впрыска",
    "Массовый расход воздуха", "Цикловой расход воздуха", "Часовой расход топлива",
]


def logs():
    def rows(line, sep):
        out = []
        for r in range(1, 38):
            if r == 12:
                out.append("")
            elif r == 4 and line == 1:
                out.append("")  # an LC-1 reading that was not taken
            else:
                out.append(("%g" % (r * 10 + line + 0.25)).replace(".", sep))
        return out

    xls = "\t".join(LOG_CAPTIONS) + "\r\n"
    csv = ",".join(LOG_CAPTIONS) + "\r\n"
    for line in range(3):
        xls += "\t".join(rows(line, ",")) + "\r\n"
        csv += ",".join([str(100 + line)] + rows(line, ".")[1:]) + "\r\n"
    write("fuzz_log_reader", "xls_cp1251", xls.encode("cp1251"))
    write("fuzz_log_reader", "xls_utf8_bom", b"\xEF\xBB\xBF" + xls.encode("utf-8"))
    write("fuzz_log_reader", "csv_cp1251", csv.encode("cp1251"))
    write("fuzz_log_reader", "csv_utf8_cut", csv.encode("utf-8")[:-7])


if __name__ == "__main__":
    shutil.rmtree(OUT, ignore_errors=True)
    kline()
    lc1()
    config()
    firmware()
    maps()
    logs()
