-- Tables of Velmorin Server and its sample support-request application (Oracle).
CREATE TABLE zr2_registry (
  reg_user VARCHAR2(50) NOT NULL,
  reg_section VARCHAR2(50) NOT NULL,
  reg_key VARCHAR2(100) NOT NULL,
  reg_value VARCHAR2(255),
  CONSTRAINT pk_zr2_registry PRIMARY KEY (reg_user, reg_section, reg_key)
);

CREATE TABLE support_request (
  id NUMBER(10) PRIMARY KEY,
  title VARCHAR2(200) NOT NULL,
  requester VARCHAR2(100) NOT NULL,
  detail VARCHAR2(4000),
  status VARCHAR2(20) DEFAULT 'Open' NOT NULL,
  created DATE DEFAULT SYSDATE NOT NULL,
  due DATE DEFAULT TRUNC(SYSDATE) + 7 NOT NULL
);

CREATE SEQUENCE support_request_seq;

CREATE OR REPLACE TRIGGER support_request_id
BEFORE INSERT ON support_request FOR EACH ROW
BEGIN
  IF :NEW.id IS NULL THEN
    SELECT support_request_seq.NEXTVAL INTO :NEW.id FROM dual;
  END IF;
END;
/

INSERT INTO support_request (title, requester, detail)
VALUES ('Welcome to Velmorin Server', 'The installer',
        'This request was created with the sample database. Add your own from the front page.');
