-- Tables of Velmorin Server and its sample support-request application (Sybase ASE).
CREATE TABLE zr2_registry (
  reg_user VARCHAR(50) NOT NULL,
  reg_section VARCHAR(50) NOT NULL,
  reg_key VARCHAR(100) NOT NULL,
  reg_value VARCHAR(255) NULL,
  CONSTRAINT pk_zr2_registry PRIMARY KEY (reg_user, reg_section, reg_key)
)
go

CREATE TABLE support_request (
  id NUMERIC(10,0) IDENTITY PRIMARY KEY,
  title VARCHAR(200) NOT NULL,
  requester VARCHAR(100) NOT NULL,
  detail VARCHAR(4000) NULL,
  status VARCHAR(20) DEFAULT 'Open' NOT NULL,
  created DATETIME DEFAULT GETDATE() NOT NULL,
  due DATETIME DEFAULT DATEADD(day, 7, GETDATE()) NOT NULL
)
go

INSERT INTO support_request (title, requester, detail)
VALUES ('Welcome to Velmorin Server', 'The installer',
        'This request was created with the sample database. Add your own from the front page.')
go
