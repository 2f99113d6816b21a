-- The demo database of `make demo`: a small shop with a few thousand rows,
-- and the awkward cases a viewer must show well: NULLs, reals such as 100.0,
-- 64-bit integers, blobs, a view, plain and UNIQUE indexes, a table whose
-- name holds a double quote, a table of 130 columns, and an hourly time
-- series. Every value is computed, so the database is the same on every
-- run.
BEGIN;

CREATE TABLE customers (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  email TEXT NOT NULL,
  city TEXT,
  phone TEXT,            -- NULL for every fourth customer
  created_at TEXT NOT NULL
);
CREATE UNIQUE INDEX customers_email ON customers (email);
CREATE INDEX customers_city ON customers (city);

CREATE TABLE products (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  price REAL NOT NULL,   -- product 1 costs exactly 100.0
  weight_kg REAL,        -- NULL for digital goods
  thumbnail BLOB         -- a few bytes, one long blob, some NULL
);
CREATE UNIQUE INDEX products_name ON products (name);

CREATE TABLE orders (
  id INTEGER PRIMARY KEY,
  customer_id INTEGER NOT NULL REFERENCES customers (id),
  placed_at TEXT NOT NULL,
  status TEXT NOT NULL,
  note TEXT              -- mostly NULL; some notes hold commas and quotes
);
CREATE INDEX orders_customer ON orders (customer_id);

CREATE TABLE order_items (
  order_id INTEGER NOT NULL REFERENCES orders (id),
  product_id INTEGER NOT NULL REFERENCES products (id),
  quantity INTEGER NOT NULL,
  unit_price REAL NOT NULL,
  PRIMARY KEY (order_id, product_id)
) WITHOUT ROWID;

-- Values at and beyond the 53 bits that a browser's numbers hold exactly.
CREATE TABLE counters (
  name TEXT PRIMARY KEY,
  value INTEGER
);

CREATE TABLE "say ""hello"" table" (
  id INTEGER PRIMARY KEY,
  greeting TEXT
);

CREATE TABLE wide_metrics (
  c1 INTEGER, c2 INTEGER, c3 INTEGER, c4 INTEGER, c5 INTEGER, c6 INTEGER, c7 INTEGER, c8 INTEGER, c9 INTEGER, c10 INTEGER,
  c11 INTEGER, c12 INTEGER, c13 INTEGER, c14 INTEGER, c15 INTEGER, c16 INTEGER, c17 INTEGER, c18 INTEGER, c19 INTEGER, c20 INTEGER,
  c21 INTEGER, c22 INTEGER, c23 INTEGER, c24 INTEGER, c25 INTEGER, c26 INTEGER, c27 INTEGER, c28 INTEGER, c29 INTEGER, c30 INTEGER,
  c31 INTEGER, c32 INTEGER, c33 INTEGER, c34 INTEGER, c35 INTEGER, c36 INTEGER, c37 INTEGER, c38 INTEGER, c39 INTEGER, c40 INTEGER,
  c41 INTEGER, c42 INTEGER, c43 INTEGER, c44 INTEGER, c45 INTEGER, c46 INTEGER, c47 INTEGER, c48 INTEGER, c49 INTEGER, c50 INTEGER,
  c51 INTEGER, c52 INTEGER, c53 INTEGER, c54 INTEGER, c55 INTEGER, c56 INTEGER, c57 INTEGER, c58 INTEGER, c59 INTEGER, c60 INTEGER,
  c61 INTEGER, c62 INTEGER, c63 INTEGER, c64 INTEGER, c65 INTEGER, c66 INTEGER, c67 INTEGER, c68 INTEGER, c69 INTEGER, c70 INTEGER,
  c71 INTEGER, c72 INTEGER, c73 INTEGER, c74 INTEGER, c75 INTEGER, c76 INTEGER, c77 INTEGER, c78 INTEGER, c79 INTEGER, c80 INTEGER,
  c81 INTEGER, c82 INTEGER, c83 INTEGER, c84 INTEGER, c85 INTEGER, c86 INTEGER, c87 INTEGER, c88 INTEGER, c89 INTEGER, c90 INTEGER,
  c91 INTEGER, c92 INTEGER, c93 INTEGER, c94 INTEGER, c95 INTEGER, c96 INTEGER, c97 INTEGER, c98 INTEGER, c99 INTEGER, c100 INTEGER,
  c101 INTEGER, c102 INTEGER, c103 INTEGER, c104 INTEGER, c105 INTEGER, c106 INTEGER, c107 INTEGER, c108 INTEGER, c109 INTEGER, c110 INTEGER,
  c111 INTEGER, c112 INTEGER, c113 INTEGER, c114 INTEGER, c115 INTEGER, c116 INTEGER, c117 INTEGER, c118 INTEGER, c119 INTEGER, c120 INTEGER,
  c121 INTEGER, c122 INTEGER, c123 INTEGER, c124 INTEGER, c125 INTEGER, c126 INTEGER, c127 INTEGER, c128 INTEGER, c129 INTEGER, c130 INTEGER
);

-- Names come from two short lists, picked by the row number.
CREATE TEMP TABLE first_names (k INTEGER PRIMARY KEY, v TEXT);
INSERT INTO first_names (k, v) VALUES (0, 'Ada'), (1, 'Bruno'), (2, 'Chiara'), (3, 'Dmitri'),
  (4, 'Esther'), (5, 'Farid'), (6, 'Greta'), (7, 'Hiro'), (8, 'Ines'), (9, 'Jonas');
CREATE TEMP TABLE last_names (k INTEGER PRIMARY KEY, v TEXT);
INSERT INTO last_names (k, v) VALUES (0, 'Almeida'), (1, 'Berg'), (2, 'Costa'), (3, 'Dahl'),
  (4, 'Eriksen'), (5, 'Fujita'), (6, 'Gomez'), (7, 'Huber'), (8, 'Ivanova'), (9, 'Jensen'), (10, 'Kowalski');

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600)
INSERT INTO customers (id, name, email, city, phone, created_at)
SELECT i,
       (SELECT v FROM first_names WHERE k = i % 10) || ' ' || (SELECT v FROM last_names WHERE k = i % 11),
       'customer' || i || '@example.com',
       CASE i % 7 WHEN 0 THEN NULL WHEN 1 THEN 'Lisbon' WHEN 2 THEN 'Oslo' WHEN 3 THEN 'Kyoto'
                  WHEN 4 THEN 'Porto' WHEN 5 THEN 'Quito' ELSE 'Zurich' END,
       CASE WHEN i % 4 = 0 THEN NULL ELSE printf('+1 555 %04d', (i * 37) % 10000) END,
       date('2024-01-01', '+' || (i % 365) || ' days')
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 120)
INSERT INTO products (id, name, price, weight_kg, thumbnail)
SELECT i,
       'Product ' || printf('%03d', i),
       CASE WHEN i = 1 THEN 100.0 ELSE round(((i * 7919) % 20000) / 100.0 + 0.99, 2) END,
       CASE WHEN i % 9 = 0 THEN NULL ELSE ((i * 13) % 500) / 100.0 + 0.05 END,
       CASE WHEN i % 5 = 0 THEN NULL
            WHEN i = 2 THEN zeroblob(4096)
            ELSE substr(x'89504e470d0a1a0a0000000d49484452', 1, 4 + i % 12) END
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)
INSERT INTO orders (id, customer_id, placed_at, status, note)
SELECT i,
       1 + (i * 61) % 600,
       datetime('2024-01-01 08:00:00', '+' || (i * 173) || ' minutes'),
       CASE i % 10 WHEN 0 THEN 'cancelled' WHEN 1 THEN 'pending' WHEN 2 THEN 'shipped' ELSE 'delivered' END,
       CASE WHEN i % 97 = 0 THEN 'leave at the door, please'
            WHEN i % 89 = 0 THEN 'gift wrap: "happy birthday"'
            WHEN i % 83 = 0 THEN 'call first
then ring twice'
            ELSE NULL END
FROM n;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000),
     k(j) AS (VALUES (0), (1), (2))
INSERT INTO order_items (order_id, product_id, quantity, unit_price)
SELECT i, 1 + (i * 7 + j * 41) % 120, 1 + (i + j) % 4, p.price
FROM n, k JOIN products p ON p.id = 1 + (i * 7 + j * 41) % 120
WHERE j < 1 + i % 3;

INSERT INTO counters (name, value) VALUES
  ('int64 max', 9223372036854775807),
  ('int64 min', -9223372036854775808),
  ('2^53', 9007199254740992),
  ('2^53 + 1', 9007199254740993),
  ('negative', -42),
  ('zero', 0),
  ('unknown', NULL);

INSERT INTO "say ""hello"" table" (id, greeting) VALUES
  (1, 'hello'), (2, 'say "hi"'), (3, 'comma, separated'), (4, NULL);

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40)
INSERT INTO wide_metrics
SELECT
       i * 1, i * 2, i * 3, i * 4, i * 5, i * 6, i * 7, i * 8, i * 9, NULL,
       i * 11, i * 12, i * 13, i * 14, i * 15, i * 16, i * 17, i * 18, i * 19, NULL,
       i * 21, i * 22, i * 23, i * 24, i * 25, i * 26, i * 27, i * 28, i * 29, NULL,
       i * 31, i * 32, i * 33, i * 34, i * 35, i * 36, i * 37, i * 38, i * 39, NULL,
       i * 41, i * 42, i * 43, i * 44, i * 45, i * 46, i * 47, i * 48, i * 49, NULL,
       i * 51, i * 52, i * 53, i * 54, i * 55, i * 56, i * 57, i * 58, i * 59, NULL,
       i * 61, i * 62, i * 63, i * 64, i * 65, i * 66, i * 67, i * 68, i * 69, NULL,
       i * 71, i * 72, i * 73, i * 74, i * 75, i * 76, i * 77, i * 78, i * 79, NULL,
       i * 81, i * 82, i * 83, i * 84, i * 85, i * 86, i * 87, i * 88, i * 89, NULL,
       i * 91, i * 92, i * 93, i * 94, i * 95, i * 96, i * 97, i * 98, i * 99, NULL,
       i * 101, i * 102, i * 103, i * 104, i * 105, i * 106, i * 107, i * 108, i * 109, NULL,
       i * 111, i * 112, i * 113, i * 114, i * 115, i * 116, i * 117, i * 118, i * 119, NULL,
       i * 121, i * 122, i * 123, i * 124, i * 125, i * 126, i * 127, i * 128, i * 129, NULL
FROM n;

CREATE VIEW order_totals AS
SELECT o.id AS order_id, c.name AS customer, o.status,
       count(*) AS items, round(sum(i.quantity * i.unit_price), 2) AS total
FROM orders o
JOIN customers c ON c.id = o.customer_id
JOIN order_items i ON i.order_id = o.id
GROUP BY o.id;

-- A time series to chart: a reading every hour for 60 days, a daily and
-- a weekly swing with a slow trend.
CREATE TABLE readings (
  taken_at TEXT PRIMARY KEY,
  temperature REAL NOT NULL,
  humidity REAL NOT NULL
) WITHOUT ROWID;
WITH RECURSIVE h(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM h WHERE i < 60 * 24 - 1)
INSERT INTO readings (taken_at, temperature, humidity)
SELECT datetime('2024-03-01 00:00:00', '+' || i || ' hours'),
       round(12 + i / 360.0 + 6 * sin((i % 24 - 9) * 0.2618) + 2 * sin(i * 0.0374), 1),
       round(60 - 15 * sin((i % 24 - 9) * 0.2618) + (i * 7919 % 11), 1)
FROM h;

-- Orders per day, ready to chart.
CREATE VIEW orders_per_day AS
SELECT date(placed_at) AS day, count(*) AS orders
FROM orders
GROUP BY date(placed_at);

COMMIT;
