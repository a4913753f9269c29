-- Tables of Velmorin Server and its sample support-request application (SQLite).
-- Safe to run on an existing database.
CREATE TABLE IF NOT EXISTS zr2_registry (
  reg_user VARCHAR(50) NOT NULL,
  reg_section VARCHAR(50) NOT NULL,
  reg_key VARCHAR(100) NOT NULL,
  reg_value VARCHAR(255),
  PRIMARY KEY (reg_user, reg_section, reg_key)
);

CREATE TABLE IF NOT EXISTS support_request (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  title VARCHAR(200) NOT NULL,
  requester VARCHAR(100) NOT NULL,
  detail VARCHAR(4000),
  status VARCHAR(20) NOT NULL DEFAULT 'Open',
  created VARCHAR(20) NOT NULL DEFAULT CURRENT_TIMESTAMP,
  due VARCHAR(10) NOT NULL DEFAULT (date('now', '+7 days'))
);

INSERT INTO support_request (title, requester, detail)
SELECT 'Welcome to Velmorin Server', 'The installer',
       'This request was created with the sample database. Add your own from the front page.'
WHERE NOT EXISTS (SELECT 1 FROM support_request);
