// Reads a Jet database with the mdb-reader package and prints it as JSON:
//   node read_mdb.mjs FILE [--all]
// {"tables":[{"name":..,"columns":[{"name","type","size"}],"rows":[[..],..]}]}
// Every value is text (null stays null): numbers and currency as the reader
// gives them, yes/no as "1"/"0", dates as "YYYY-MM-DD HH:MM:SS" (UTC fields),
// binary and OLE values as lower-case hex. --all adds the system tables (one
// whose columns this reader cannot read has "error" instead of columns and rows).
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

function pad(n, width = 2) {
  return String(n).padStart(width, "0");
}

function asText(value) {
  if (value === null || value === undefined) return null;
  if (typeof value === "boolean") return value ? "1" : "0";
  if (value instanceof Date) {
    return `${pad(value.getUTCFullYear(), 4)}-${pad(value.getUTCMonth() + 1)}-${pad(value.getUTCDate())} ` +
           `${pad(value.getUTCHours())}:${pad(value.getUTCMinutes())}:${pad(value.getUTCSeconds())}`;
  }
  if (Buffer.isBuffer(value)) return value.toString("hex");
  return String(value);
}

function readTable(reader, name) {
  const table = reader.getTable(name);
  const columns = table.getColumns().map((c) => ({ name: c.name, type: c.type, size: c.size }));
  const rows = table.getData().map((row) => columns.map((c) => asText(row[c.name])));
  return { name, columns, rows };
}

function main() {
  const args = process.argv.slice(2);
  const file = args.find((a) => !a.startsWith("--"));
  if (!file) {
    process.stderr.write("usage: node read_mdb.mjs FILE [--all]\n");
    process.exit(2);
  }
  const all = args.includes("--all");
  const reader = new MDBReader(readFileSync(file));
  const user = new Set(reader.getTableNames());
  const names = reader.getTableNames({ normalTables: true, systemTables: all });
  const tables = names.map((name) => {
    try {
      return readTable(reader, name);
    } catch (err) {
      // A user table that cannot be read fails the whole read; a system
      // table with a type this reader does not know is reported as such.
      if (user.has(name)) throw new Error(`table ${name}: ${err && err.message ? err.message : err}`);
      return { name, error: String(err && err.message ? err.message : err) };
    }
  });
  process.stdout.write(JSON.stringify({ tables }) + "\n");
}

try {
  main();
} catch (err) {
  process.stderr.write(`read_mdb: ${err && err.message ? err.message : err}\n`);
  process.exit(1);
}
