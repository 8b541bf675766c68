package com.ulvex.qor.jni;

import static com.ulvex.qor.jni.AgentBindingTest.b;
import static com.ulvex.qor.jni.AgentBindingTest.lastError;
import static com.ulvex.qor.jni.AgentBindingTest.text;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;

/** The binding in a JVM whose library finds no agent and no emergency file. */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class NoAgentBindingTest {
  private AgentHome home;

  @BeforeAll
  void start() throws Exception {
    home = AgentHome.withoutAgent();
    home.configureLibrary();
  }

  @AfterAll
  void stop() throws Exception {
    if (home != null) home.close();
  }

  @Test
  void initialisationFailsAndSaysWhy() {
    assertEquals(0, JNI.init());
    assertEquals(0, JNI.isInit());
    assertTrue(lastError().length() > 0);
    byte[] out = new byte[256];
    int n = JNI.initResult(out);
    assertTrue(text(out, n).startsWith("Result: FAIL"), text(out, n));
    // The crypto mode is set, but initialisation still has no key set.
    byte[] mode = b("0");
    assertEquals(-1, JNI.setBMT(mode, mode.length));
  }

  @Test
  void checksReportFailure() {
    assertEquals(0, JNI.checkHealthAgent());
    assertTrue(lastError().length() > 0);
    assertEquals(0, JNI.checkHealthServer());
    assertTrue(lastError().length() > 0);
    assertEquals(0, JNI.checkPolicy());
    // The self test needs no agent.
    assertEquals(1, JNI.checkCryptoModule());
    byte[] name = b("ARIA_256");
    assertEquals(0, JNI.existPolicy(name, name.length));
    assertEquals(0, JNI.loadKeyName(new byte[16]));
    assertEquals(-1, JNI.checkHealthServer(7));
    assertEquals("the function is not yet supported.", lastError());
  }

  @Test
  void statusReportShowsTheFailure() {
    byte[] out = new byte[2048];
    String all = text(out, JNI.checkAgent(b("all"), out));
    assertTrue(all.contains("\n Load Policy : 0\n Load Policy status : Fail( "), all);
    assertTrue(all.endsWith(" ) \n"), all);
  }

  @Test
  void valuesFail() {
    byte[] name = b("ARIA_256");
    byte[] data = b("value");
    byte[] out = new byte[128];
    assertEquals(-1, JNI.encryptStr(name, name.length, data, data.length, out, 0, null, null, null));
    assertEquals(-1, JNI.decryptBin(name, name.length, data, data.length, out, 0, null, null, null));
  }

  @Test
  void filesFailBeforeTheRunWithTagUnk() throws Exception {
    Path plain = home.file("plain.txt");
    Files.writeString(plain, "some text");
    for (boolean encrypt : new boolean[] {true, false}) {
      AgentBindingTest.FileCall call = new AgentBindingTest.FileCall();
      call = encrypt ? call.encrypt("ARIA_256", plain, home.file("out.enc"))
                     : call.decrypt("ARIA_256", plain, home.file("out.dec"));
      assertTrue(call.code != 0);
      assertEquals("UNK", call.tag());
      assertTrue(!call.message().isEmpty());
    }
    assertTrue(!Files.exists(home.file("out.enc")));
  }
}
