#!/usr/bin/python3
"""A stand-in for a SQL Server, for tests: it speaks the tabular data stream
(TDS 7.2, 7.3 and 7.4, without encryption) as the FreeTDS ODBC driver expects
it, and answers SQL batches from a SQLite school database.

Statements arrive in SQL Server's dialect and are rewritten for SQLite (table
hints dropped, bracket quoting, N'' literals, the few functions that differ).
Each result column is sent as the SQL Server type a MORV database declares
for it: the type table beside this file names them by table and column;
columns it does not name get the type their SQLite declaration spells, and
computed columns one that fits their values.

Faults on request come from a JSON file the test writes and may rewrite
between runs (read again for every connection and statement):
  {"refuse_login": "why",                       login fails with error 18456
   "info": {"query": "", "after_rows": 1},      an INFO token (a warning) there
   "error": {"query": "text", "after_rows": 3,  an ERROR token after that many
             "number": 1205, "times": 1},       rows of a statement holding text
   "cut": {"query": "text", "after_rows": 5,    the connection closed there
           "mid_packet": false, "times": 1},
   "delay": {"query": "text", "seconds": 5},    the reply held back (an
                                                attention still ends it)
   "packet_size": 512}                          packets of that size from
                                                login on, whatever the
                                                client asked for
"times" counts over the server's life; 0 or absent means every time.

Usage: tds_stand_in.py --db FILE --types FILE --port-file FILE --user NAME
       --password TEXT [--database NAME] [--faults FILE] [--log FILE]
"""

import argparse
import datetime
import decimal
import json
import os
import re
import select
import socket
import sqlite3
import struct
import sys
import threading
import time

SERVER_NAME = "MORVSTANDIN"
# SQL_Latin1_General_CP1_CI_AS: LCID 1033, case-insensitive, sort order 52,
# which FreeTDS reads as code page 1252.
COLLATION = bytes([0x09, 0x04, 0xD0, 0x00, 0x34])

# Packet types.
PT_SQL_BATCH = 0x01
PT_RPC = 0x03
PT_REPLY = 0x04
PT_ATTENTION = 0x06
PT_LOGIN7 = 0x10
PT_PRELOGIN = 0x12

TDS72 = 0x72090002
TDS73 = 0x730B0003
TDS74 = 0x74000004

DONE_MORE = 0x01
DONE_ERROR = 0x02
DONE_COUNT = 0x10
DONE_ATTN = 0x20

DAY_1900 = datetime.date(1900, 1, 1)
DAY_0001 = datetime.date(1, 1, 1)


class ConnectionCut(Exception):
    """The fault file asked for the connection to end here."""


class Attention(Exception):
    """The client cancelled the running statement."""


class SqlFailure(Exception):
    def __init__(self, number, severity, message):
        super().__init__(message)
        self.number = number
        self.severity = severity
        self.message = message


def log(text):
    if LOG:
        with LOG_LOCK:
            LOG.write("%s %s\n" % (datetime.datetime.now().strftime("%H:%M:%S.%f"), text))
            LOG.flush()


LOG = None
LOG_LOCK = threading.Lock()


# ---------------------------------------------------------------- encoding

def us_varchar(text):
    data = text.encode("utf-16-le")
    return struct.pack("<H", len(data) // 2) + data


def b_varchar(text):
    data = text.encode("utf-16-le")
    return struct.pack("<B", len(data) // 2) + data


def token_envchange(kind, new, old):
    body = struct.pack("<B", kind) + new + old
    return b"\xE3" + struct.pack("<H", len(body)) + body


def token_message(error, number, state, severity, text, line=1):
    body = (struct.pack("<iBB", number, state, severity) + us_varchar(text) + b_varchar(SERVER_NAME) +
            b_varchar("") + struct.pack("<i", line))
    return (b"\xAA" if error else b"\xAB") + struct.pack("<H", len(body)) + body


def token_done(status, rows=0, curcmd=0xC1, token=0xFD):
    return struct.pack("<BHHQ", token, status, curcmd, rows)


# ---------------------------------------------------------------- types

class SqlType:
    """One SQL Server column type: its TYPE_INFO and how a value travels."""

    def __init__(self, type_text):
        self.type_text = type_text.strip().lower()
        # "utf8" after a Unicode type: the SQLite column holds UTF-8 (text
        # outside code page 1252); without it, text there is in the code page.
        self.utf8 = self.type_text.endswith(" utf8")
        if self.utf8:
            self.type_text = self.type_text[:-5].strip()
        m = re.match(r"^(\w+)\s*(?:\(\s*(max|\d+)\s*(?:,\s*(\d+)\s*)?\))?$", self.type_text)
        if not m:
            raise ValueError("unknown type " + type_text)
        self.name = m.group(1)
        self.size = m.group(2)
        self.scale = int(m.group(3)) if m.group(3) else 0
        known = ("int", "smallint", "tinyint", "bigint", "bit", "decimal", "numeric", "money", "smallmoney",
                 "float", "real", "datetime", "smalldatetime", "date", "time", "datetime2", "varchar", "char",
                 "nvarchar", "nchar", "text", "ntext")
        if self.name not in known:
            raise ValueError("unknown type " + type_text)
        if self.name in ("decimal", "numeric"):
            self.precision = int(self.size) if self.size else 18
        if self.name in ("time", "datetime2"):
            self.scale = int(self.size) if self.size else 7
        if self.name in ("varchar", "char", "nvarchar", "nchar"):
            self.length = None if self.size == "max" else int(self.size or 1)

    def down_level(self, version):
        # Before TDS 7.3 the server sends date and time types as text.
        if version < TDS73 and self.name in ("date", "time", "datetime2"):
            width = {"date": 10, "time": 8 + (1 + self.scale if self.scale else 0)}.get(
                self.name, 19 + (1 + self.scale if self.scale else 0))
            t = SqlType("nvarchar(%d)" % width)
            t.text_of = self
            return t
        return self

    def type_info(self):
        n = self.name
        if n in ("tinyint", "smallint", "int", "bigint"):
            return bytes([0x26, {"tinyint": 1, "smallint": 2, "int": 4, "bigint": 8}[n]])
        if n == "bit":
            return bytes([0x68, 1])
        if n in ("decimal", "numeric"):
            return bytes([0x6A if n == "decimal" else 0x6C, self.decimal_bytes(), self.precision, self.scale])
        if n in ("money", "smallmoney"):
            return bytes([0x6E, 8 if n == "money" else 4])
        if n in ("float", "real"):
            return bytes([0x6D, 8 if n == "float" else 4])
        if n in ("datetime", "smalldatetime"):
            return bytes([0x6F, 8 if n == "datetime" else 4])
        if n == "date":
            return bytes([0x28])
        if n in ("time", "datetime2"):
            return bytes([0x29 if n == "time" else 0x2A, self.scale])
        if n in ("varchar", "char", "nvarchar", "nchar"):
            code = {"varchar": 0xA7, "char": 0xAF, "nvarchar": 0xE7, "nchar": 0xEF}[n]
            if self.length is None:
                size = 0xFFFF
            else:
                size = self.length * (2 if n.startswith("n") else 1)
            return bytes([code]) + struct.pack("<H", size) + COLLATION
        if n in ("text", "ntext"):
            return bytes([0x23 if n == "text" else 0x63]) + struct.pack("<i", 0x7FFFFFFF) + COLLATION
        raise AssertionError(n)

    def table_name(self, table):
        # text and ntext name their table in the column's metadata.
        if self.name in ("text", "ntext"):
            return b"\x01" + us_varchar(table or "t")
        return b""

    def decimal_bytes(self):
        p = self.precision
        return 5 if p <= 9 else 9 if p <= 19 else 13 if p <= 28 else 17

    def is_plp(self):
        return self.name in ("varchar", "nvarchar") and self.length is None

    def encode(self, value, column):
        """The value's bytes in a ROW token; None for NULL is handled too."""
        n = self.name
        if hasattr(self, "text_of") and value is not None:
            value = self.text_of.as_text(value, column)
        if n in ("varchar", "char", "nvarchar", "nchar", "text", "ntext"):
            if value is None:
                if self.is_plp():
                    return struct.pack("<Q", 0xFFFFFFFFFFFFFFFF)
                if n in ("text", "ntext"):
                    return b"\x00"
                return struct.pack("<H", 0xFFFF)
            data = self.text_bytes(value, column)
            if self.is_plp():
                out = [struct.pack("<Q", len(data))]
                # Chunks of a few hundred bytes, so a value spans several.
                for i in range(0, len(data), 300):
                    chunk = data[i:i + 300]
                    out.append(struct.pack("<I", len(chunk)) + chunk)
                out.append(struct.pack("<I", 0))
                return b"".join(out)
            if n in ("text", "ntext"):
                return b"\x10" + b"\x00" * 16 + b"\x00" * 8 + struct.pack("<i", len(data)) + data
            return struct.pack("<H", len(data)) + data
        if value is None:
            return b"\x00"
        if isinstance(value, bytes):
            text = value.decode("cp1252", "replace").strip()
            if text == "" and n in ("datetime", "smalldatetime", "date", "time", "datetime2"):
                return b"\x00"
            value = text
        if n in ("tinyint", "smallint", "int", "bigint", "bit"):
            v = int(value) if not isinstance(value, str) else int(value.strip() or "0")
            if n == "bit":
                return b"\x01" + bytes([1 if v else 0])
            fmt = {"tinyint": "<B", "smallint": "<h", "int": "<i", "bigint": "<q"}[n]
            return bytes([struct.calcsize(fmt)]) + struct.pack(fmt, v)
        if n in ("decimal", "numeric"):
            d = decimal.Decimal(str(value)).quantize(decimal.Decimal(1).scaleb(-self.scale),
                                                     rounding=decimal.ROUND_HALF_UP)
            unscaled = int(d.scaleb(self.scale))
            size = self.decimal_bytes()
            return bytes([size, 1 if unscaled >= 0 else 0]) + abs(unscaled).to_bytes(size - 1, "little")
        if n in ("money", "smallmoney"):
            d = decimal.Decimal(str(value)).quantize(decimal.Decimal("0.0001"), rounding=decimal.ROUND_HALF_UP)
            units = int(d.scaleb(4))
            if n == "smallmoney":
                return b"\x04" + struct.pack("<i", units)
            return b"\x08" + struct.pack("<iI", units >> 32, units & 0xFFFFFFFF)
        if n in ("float", "real"):
            return (b"\x08" + struct.pack("<d", float(value))) if n == "float" else (
                b"\x04" + struct.pack("<f", float(value)))
        stamp, units = parse_stamp(value, column)
        if n == "datetime":
            # Whole days since 1900 and three hundredths of a second.
            days = (stamp.date() - DAY_1900).days
            seconds = (stamp.hour * 60 + stamp.minute) * 60 + stamp.second
            return b"\x08" + struct.pack("<iI", days, seconds * 300 + (units * 300 + 5000000) // 10000000)
        if n == "smalldatetime":
            days = (stamp.date() - DAY_1900).days
            return b"\x04" + struct.pack("<HH", days, stamp.hour * 60 + stamp.minute)
        if n == "date":
            return b"\x03" + ((stamp.date() - DAY_0001).days).to_bytes(3, "little")
        time_part = self.time_bytes(stamp, units)
        if n == "time":
            return bytes([len(time_part)]) + time_part
        date_part = ((stamp.date() - DAY_0001).days).to_bytes(3, "little")
        return bytes([len(time_part) + 3]) + time_part + date_part

    def time_bytes(self, stamp, fraction):
        seconds = (stamp.hour * 60 + stamp.minute) * 60 + stamp.second
        units = (seconds * 10000000 + fraction) // 10 ** (7 - self.scale)
        size = 3 if self.scale <= 2 else 4 if self.scale <= 4 else 5
        return units.to_bytes(size, "little")

    def as_text(self, value, column):
        """A date or time value as SQL Server writes it for a down-level client."""
        if isinstance(value, bytes):
            value = value.decode("cp1252", "replace").strip()
            if value == "":
                return None
        stamp, units = parse_stamp(value, column)
        fraction = ""
        if self.scale:
            fraction = "." + ("%07d" % units)[:self.scale]
        if self.name == "date":
            return stamp.strftime("%Y-%m-%d")
        if self.name == "time":
            return stamp.strftime("%H:%M:%S") + fraction
        return stamp.strftime("%Y-%m-%d %H:%M:%S") + fraction

    def text_bytes(self, value, column):
        if isinstance(value, bytes):
            text, raw = None, value
        else:
            if isinstance(value, float) and value.is_integer():
                value = int(value)
            text = str(value)
            raw = None
        if self.name.startswith("n"):
            if raw is not None:
                text = raw.decode("utf-8" if self.utf8 else "cp1252", "replace")
            if self.name == "nchar" and self.length:
                text = text.ljust(self.length)
            return text.encode("utf-16-le")
        if raw is None:
            raw = text.encode("cp1252", "replace")
        if self.name == "char" and self.length:
            raw = raw.ljust(self.length, b" ")
        return raw


def parse_stamp(value, column):
    """The date and time of a value, and its fraction of a second in units of
    100 ns (seven digits, as datetime2 and time hold it)."""
    if isinstance(value, (int, float)):
        raise SqlFailure(241, 16, "Conversion failed when converting date and/or time from character string "
                                  "(column %s)." % column)
    text = str(value).strip().replace("T", " ")
    units = 0
    fraction = re.search(r"\.(\d+)$", text)
    if fraction:
        units = int((fraction.group(1) + "0000000")[:7])
        text = text[:fraction.start()]
    for form in ("%Y-%m-%d %H:%M:%S", "%Y-%m-%d %H:%M", "%Y-%m-%d", "%H:%M:%S", "%H:%M"):
        try:
            stamp = datetime.datetime.strptime(text, form)
            return stamp.replace(microsecond=units // 10), units
        except ValueError:
            pass
    raise SqlFailure(241, 16, "Conversion failed when converting date and/or time from character string "
                              "(column %s: %r)." % (column, str(value)))


class TypeTable:
    """The SQL Server type of each column: the table's own entries, else what
    the SQLite declaration spells."""

    def __init__(self, path):
        self.entries = {}
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.split("#", 1)[0].strip()
                if not line:
                    continue
                column, type_text = line.split(None, 1)
                SqlType(type_text)  # refuses an unknown type at once
                self.entries[column.lower()] = type_text

    def of(self, table, column, declared):
        type_text = self.entries.get(("%s.%s" % (table, column)).lower())
        if type_text:
            return SqlType(type_text)
        d = (declared or "").strip().lower()
        if not d:
            return None
        if d == "int" or d == "integer":
            return SqlType("int")
        if d.startswith("numeric") or d.startswith("decimal"):
            return SqlType(d if "(" in d else "numeric(18,0)")
        for prefix in ("varchar", "char", "nvarchar", "nchar"):
            if d.startswith(prefix + "(") or d == prefix:
                return SqlType(d)
        if d in ("text", "ntext", "bit", "datetime", "smalldatetime", "date", "real", "float", "money",
                 "smallmoney", "bigint", "smallint", "tinyint"):
            return SqlType(d)
        if d.startswith("datetime2") or d.startswith("time"):
            return SqlType(d)
        return None


def fitting_type(values):
    """A type for a computed column, from its values."""
    present = [v for v in values if v is not None]
    if all(isinstance(v, int) for v in present) and present:
        return SqlType("bigint" if any(abs(v) > 2 ** 31 - 1 for v in present) else "int")
    if all(isinstance(v, (int, float)) for v in present) and present:
        return SqlType("float")
    longest = max([len(v if isinstance(v, bytes) else str(v)) for v in present] or [1])
    return SqlType("varchar(%d)" % max(longest, 1) if longest <= 8000 else "varchar(max)")


# ---------------------------------------------------------------- dialect

def outside_strings(sql, change):
    """Applies `change` to the parts of `sql` outside string literals."""
    parts = re.split(r"('(?:[^']|'')*')", sql)
    return "".join(p if i % 2 else change(p) for i, p in enumerate(parts))


def to_sqlite(sql):
    def change(part):
        part = re.sub(r"\s+WITH\s*\(\s*NOLOCK\s*\)", " ", part, flags=re.I)
        part = re.sub(r"\[([^\]]*)\]", r'"\1"', part)
        part = re.sub(r"(?i)\bN$", "", part)  # N'' literal: the N before the quote
        part = re.sub(r"(?i)\bISNULL\s*\(", "IFNULL(", part)
        part = re.sub(r"(?i)\bLEN\s*\(", "LENGTH(", part)
        part = re.sub(r"(?i)\bGETDATE\s*\(\s*\)", "datetime('now', 'localtime')", part)
        part = re.sub(r"(?i)\bSUBSTRING\s*\(", "substr(", part)
        return part
    return outside_strings(sql, change)


# ---------------------------------------------------------------- server

class Server:
    def __init__(self, args):
        self.args = args
        self.types = TypeTable(args.types)
        self.counts = {}
        self.lock = threading.Lock()
        self.columns = {}

    def faults(self):
        if not self.args.faults:
            return {}
        try:
            with open(self.args.faults, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def fault_applies(self, kind, fault, sql):
        """True when `fault` of `kind` is for this statement and has turns left."""
        if not fault or fault.get("query", "") not in sql:
            return False
        with self.lock:
            done = self.counts.get(kind, 0)
            times = fault.get("times", 0)
            if times and done >= times:
                return False
            self.counts[kind] = done + 1
        return True

    def declared_columns(self, db):
        """Table -> {column lower -> (name, declared type)}, read once per file."""
        if not self.columns:
            tables = {}
            for (name,) in db.execute("SELECT name FROM sqlite_master WHERE type IN ('table', 'view')"):
                name = name.decode() if isinstance(name, bytes) else name
                cols = {}
                for row in db.execute("SELECT name, type FROM pragma_table_info(?)", (name,)):
                    col = row[0].decode() if isinstance(row[0], bytes) else row[0]
                    decl = row[1].decode() if isinstance(row[1], bytes) else row[1]
                    cols[col.lower()] = (col, decl)
                tables[name.lower()] = (name, cols)
            self.columns = tables
        return self.columns

    def serve(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        port = listener.getsockname()[1]
        temporary = self.args.port_file + ".new"
        with open(temporary, "w") as f:
            f.write("%d\n" % port)
        os.rename(temporary, self.args.port_file)
        log("listening on %d" % port)
        while True:
            client, _ = listener.accept()
            # As SQL Server does: a reply's last packet goes out at once,
            # not after the client acknowledged the one before.
            client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=self.session, args=(client,), daemon=True).start()

    def session(self, sock):
        try:
            Session(self, sock).run()
        except (ConnectionCut, ConnectionError, OSError) as e:
            log("session ended: %r" % e)
        except Exception as e:  # a fault of the stand-in: say so in its log
            log("session failed: %r" % e)
            import traceback
            log(traceback.format_exc())
        finally:
            try:
                sock.close()
            except OSError:
                pass


class Session:
    def __init__(self, server, sock):
        self.server = server
        self.sock = sock
        self.packet_size = 4096
        self.version = TDS74
        self.out = []
        self.out_size = 0
        self.packet_id = 1
        self.db = None
        self.pending = b""

    # -- packets

    def read_exact(self, n):
        data = self.pending[:n]
        self.pending = self.pending[n:]
        while len(data) < n:
            chunk = self.sock.recv(max(n - len(data), 4096))
            if not chunk:
                raise ConnectionError("client closed the connection")
            data += chunk
        if len(data) > n:
            self.pending = data[n:] + self.pending
            data = data[:n]
        return data

    def read_message(self):
        kind, payload = None, b""
        while True:
            header = self.read_exact(8)
            ptype, status, length = struct.unpack(">BBH", header[:4])
            payload += self.read_exact(length - 8)
            kind = ptype
            if status & 0x01:
                return kind, payload

    def attention_waiting(self, timeout=0.0):
        """True when the client sent an attention (cancel) packet."""
        if not self.pending:
            ready, _, _ = select.select([self.sock], [], [], timeout)
            if not ready:
                return False
            chunk = self.sock.recv(4096)
            if not chunk:
                raise ConnectionError("client closed the connection")
            self.pending += chunk
        if len(self.pending) >= 8 and self.pending[0] == PT_ATTENTION:
            length = struct.unpack(">H", self.pending[2:4])[0]
            self.read_exact(length)
            return True
        return False

    def send_packet(self, body, last):
        header = struct.pack(">BBHHBB", PT_REPLY, 1 if last else 0, len(body) + 8, 0, self.packet_id, 0)
        self.packet_id = (self.packet_id + 1) % 256
        self.sock.sendall(header + body)

    def emit(self, data):
        self.out.append(data)
        self.out_size += len(data)
        room = self.packet_size - 8
        if self.out_size > room:
            buffered = b"".join(self.out)
            while len(buffered) > room:
                self.send_packet(buffered[:room], False)
                buffered = buffered[room:]
            self.out = [buffered]
            self.out_size = len(buffered)

    def finish(self):
        self.send_packet(b"".join(self.out), True)
        self.out = []
        self.out_size = 0

    def cut(self, mid_packet):
        """Ends the connection with what is buffered partly sent."""
        buffered = b"".join(self.out)
        if mid_packet:
            # A packet announced whole but cut part way.
            header = struct.pack(">BBHHBB", PT_REPLY, 0, self.packet_size, 0, self.packet_id, 0)
            self.sock.sendall(header + buffered[:max(1, min(len(buffered), self.packet_size - 8) // 2)])
        elif buffered:
            self.send_packet(buffered, False)
        self.sock.shutdown(socket.SHUT_RDWR)
        raise ConnectionCut("cut on request")

    # -- the conversation

    def run(self):
        while True:
            kind, payload = self.read_message()
            if kind == PT_PRELOGIN:
                self.prelogin(payload)
            elif kind == PT_LOGIN7:
                if not self.login(payload):
                    return
            elif kind == PT_SQL_BATCH:
                self.batch(payload)
            elif kind == PT_ATTENTION:
                self.emit(token_done(DONE_ATTN, 0, 0))
                self.finish()
            else:
                log("unsupported packet type %d" % kind)
                self.emit(token_message(True, 4002, 1, 16, "The stand-in does not take packets of type %d." % kind))
                self.emit(token_done(DONE_ERROR, 0, 0))
                self.finish()

    def prelogin(self, payload):
        options = [(0x00, bytes([16, 0, 0x07, 0xD0, 0, 0])),  # VERSION 16.0.2000
                   (0x01, b"\x02"),                            # ENCRYPTION: not supported
                   (0x02, b"\x00"),                            # INSTOPT
                   (0x03, struct.pack(">I", os.getpid())),      # THREADID
                   (0x04, b"\x00")]                            # MARS off
        offset = len(options) * 5 + 1
        head, body = b"", b""
        for token, data in options:
            head += struct.pack(">BHH", token, offset + len(body), len(data))
            body += data
        self.emit(head + b"\xFF" + body)
        self.finish()

    def login(self, payload):
        version = struct.unpack("<I", payload[4:8])[0]
        requested_size = struct.unpack("<I", payload[8:12])[0]

        def field(index):
            at = 36 + index * 4
            offset, count = struct.unpack("<HH", payload[at:at + 4])
            return payload[offset:offset + 2 * count]

        user = field(1).decode("utf-16-le")
        secret = bytes(((b ^ 0xA5) >> 4) | (((b ^ 0xA5) & 0x0F) << 4) for b in field(2)).decode("utf-16-le")
        database = field(8).decode("utf-16-le") or self.server.args.database
        self.version = TDS74 if version >= TDS74 else TDS73 if version >= 0x730A0003 else TDS72
        if requested_size >= 512:
            self.packet_size = min(requested_size, 32767)
        faults = self.server.faults()
        if faults.get("packet_size"):
            # The server's own size, which the client must adopt.
            self.packet_size = int(faults["packet_size"])
        log("login of %s to %s, TDS %08x, packets of %d" % (user, database, self.version, self.packet_size))

        refused = faults.get("refuse_login")
        if refused or user != self.server.args.user or secret != self.server.args.password:
            text = "Login failed for user '%s'." % user
            if refused:
                text += " Reason: " + refused
            self.emit(token_message(True, 18456, 1, 14, text))
            self.emit(token_done(DONE_ERROR, 0, 0))
            self.finish()
            return False
        if database.lower() != self.server.args.database.lower():
            self.emit(token_message(True, 4060, 1, 11, "Cannot open database \"%s\" requested by the login. "
                                                       "The login failed." % database))
            self.emit(token_message(True, 18456, 1, 14, "Login failed for user '%s'." % user))
            self.emit(token_done(DONE_ERROR, 0, 0))
            self.finish()
            return False

        self.db = sqlite3.connect("file:%s?mode=ro" % self.server.args.db, uri=True, check_same_thread=False)
        self.db.text_factory = bytes
        name = self.server.args.database
        self.emit(token_envchange(1, b_varchar(name), b_varchar("master")))
        self.emit(token_message(False, 5701, 2, 0, "Changed database context to '%s'." % name))
        self.emit(token_envchange(7, bytes([5]) + COLLATION, b"\x00"))
        self.emit(token_envchange(2, b_varchar("us_english"), b_varchar("")))
        self.emit(token_message(False, 5703, 1, 0, "Changed language setting to us_english."))
        ack = (b"\x01" + struct.pack(">I", self.version) + b_varchar("Microsoft SQL Server") +
               bytes([16, 0, 0x07, 0xD0]))
        self.emit(b"\xAD" + struct.pack("<H", len(ack)) + ack)
        self.emit(token_envchange(4, b_varchar(str(self.packet_size)), b_varchar("4096")))
        self.emit(token_done(0, 0, 0))
        self.finish()
        return True

    def batch(self, payload):
        if self.version >= TDS72 and len(payload) >= 4:
            headers = struct.unpack("<I", payload[:4])[0]
            if 4 <= headers <= len(payload):
                payload = payload[headers:]
        sql = payload.decode("utf-16-le")
        log("batch: %s" % sql)
        try:
            self.statement(sql.strip())
        except Attention:
            self.out = []
            self.out_size = 0
            self.emit(token_done(DONE_ATTN, 0, 0))
        except SqlFailure as e:
            log("failed: %s" % e.message)
            self.emit(token_message(True, e.number, 1, e.severity, e.message))
            self.emit(token_done(DONE_ERROR, 0, 0xC1))
        self.finish()

    def statement(self, sql):
        faults = self.server.faults()
        delay = faults.get("delay")
        if self.server.fault_applies("delay", delay, sql):
            deadline = time.monotonic() + float(delay.get("seconds", 1))
            while time.monotonic() < deadline:
                if self.attention_waiting(min(0.05, max(0.0, deadline - time.monotonic()))):
                    raise Attention()
        words = sql.split(None, 1)
        first = words[0].upper() if words else ""
        if first in ("SET", "USE", "BEGIN", "COMMIT", "ROLLBACK", "IF") or not sql:
            # Session settings and transactions: nothing to do on a
            # read-only copy.
            self.emit(token_done(0, 0, 0xBE))
            return
        if first != "SELECT" and first != "WITH":
            raise SqlFailure(102, 15, "The stand-in answers SELECT statements only: %s" % sql[:100])
        try:
            cursor = self.db.execute(to_sqlite(sql))
            rows = cursor.fetchall()
        except sqlite3.Error as e:
            raise translated(e)
        names = [d[0] for d in cursor.description]
        types = self.result_types(sql, names, rows)
        log("columns: " + ", ".join("%s %s" % (n, t.type_text) for n, (t, _) in zip(names, types)))
        self.send_result(sql, names, types, rows, faults)

    def result_types(self, sql, names, rows):
        """Each result column's SQL Server type: that of the first table the
        statement names that has a column of its name, else one that fits."""
        tables = self.server.declared_columns(self.db)
        named = []
        for word in re.findall(r'"?\[?(\w+)\]?"?', sql):
            entry = tables.get(word.lower())
            if entry and entry not in named:
                named.append(entry)
        types = []
        for i, name in enumerate(names):
            column_type, source = None, ""
            for table, cols in named:
                if name.lower() in cols:
                    column, declared = cols[name.lower()]
                    column_type = self.server.types.of(table, column, declared)
                    if column_type:
                        source = table
                        break
            if column_type is None:
                column_type = fitting_type([row[i] for row in rows])
            types.append((column_type.down_level(self.version), source))
        return types

    def send_result(self, sql, names, types, rows, faults):
        meta = [b"\x81", struct.pack("<H", len(names))]
        for name, (column_type, table) in zip(names, types):
            meta.append(struct.pack("<IH", 0, 0x0001 | 0x0008))  # nullable, read-only
            meta.append(column_type.type_info())
            meta.append(column_type.table_name(table))
            meta.append(b_varchar(name))
        self.emit(b"".join(meta))
        error = faults.get("error")
        error_after = error.get("after_rows", 0) if self.server.fault_applies("error", error, sql) else None
        cut = faults.get("cut")
        cut_after = cut.get("after_rows", 0) if self.server.fault_applies("cut", cut, sql) else None
        info = faults.get("info")
        info_after = info.get("after_rows", 0) if self.server.fault_applies("info", info, sql) else None
        nbc = self.version >= TDS73
        for count, row in enumerate(rows):
            if info_after is not None and count == info_after:
                self.emit(fault_info(info))
            if error_after is not None and count == error_after:
                raise fault_error(error)
            if cut_after is not None and count == cut_after:
                self.cut(bool(cut.get("mid_packet")))
            if count % 64 == 0 and self.attention_waiting():
                raise Attention()
            values = [column_type.encode(value, name) for value, name, (column_type, _) in
                      zip(row, names, types)]
            if nbc and any(v is None for v in row):
                bitmap = bytearray((len(row) + 7) // 8)
                for i, v in enumerate(row):
                    if v is None:
                        bitmap[i // 8] |= 1 << (i % 8)
                self.emit(b"\xD2" + bytes(bitmap) + b"".join(v for v, raw in zip(values, row) if raw is not None))
            else:
                self.emit(b"\xD1" + b"".join(values))
        if info_after is not None and info_after >= len(rows):
            self.emit(fault_info(info))
        if error_after is not None and error_after >= len(rows):
            raise fault_error(error)
        if cut_after is not None and cut_after >= len(rows):
            self.cut(bool(cut.get("mid_packet")))
        self.emit(token_done(DONE_COUNT, len(rows)))


def fault_info(fault):
    """A warning amid a result, as SQL Server sends for an aggregate over NULL."""
    number = int(fault.get("number", 8153))
    text = fault.get("message", "Warning: Null value is eliminated by an aggregate or other SET operation.")
    return token_message(False, number, 1, 10, text)


def fault_error(fault):
    number = int(fault.get("number", 1205))
    if number == 1205:
        return SqlFailure(1205, 13, "Transaction (Process ID 57) was deadlocked on lock resources with another "
                                    "process and has been chosen as the deadlock victim. Rerun the transaction.")
    if number == 208:
        return SqlFailure(208, 16, "Invalid object name '%s'." % fault.get("object", fault.get("query", "")))
    return SqlFailure(number, 16, fault.get("message", "Error %d." % number))


def translated(e):
    text = str(e)
    m = re.match(r"no such table: (?:main\.)?(.*)", text)
    if m:
        return SqlFailure(208, 16, "Invalid object name '%s'." % m.group(1))
    m = re.match(r"no such column: (.*)", text)
    if m:
        return SqlFailure(207, 16, "Invalid column name '%s'." % m.group(1).split(".")[-1])
    return SqlFailure(102, 15, "Incorrect syntax (%s)." % text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--db", required=True)
    parser.add_argument("--types", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--database", default="MORV")
    parser.add_argument("--faults")
    parser.add_argument("--log")
    args = parser.parse_args()
    global LOG
    if args.log:
        LOG = open(args.log, "a", encoding="utf-8")
    Server(args).serve()


if __name__ == "__main__":
    main()
