package com.ulvex.qor.jni;

import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.HashSet;
import java.util.Set;
import java.util.stream.Stream;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestInstance;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/** The binding in a JVM whose library talks to a running qor-agent. */
@TestInstance(TestInstance.Lifecycle.PER_CLASS)
class AgentBindingTest {
  private AgentHome home;

  static byte[] b(String s) {
    return s.getBytes(UTF_8);
  }

  static String text(byte[] bytes, int n) {
    return new String(bytes, 0, n, UTF_8);
  }

  /** Encrypts or decrypts through one of the four value methods. */
  interface ValueMethod {
    int call(byte[] keyName, int keyNameLength, byte[] data, int dataLength, byte[] out,
        int useIdentities, byte[] a, byte[] b, byte[] c);
  }

  static byte[] run(ValueMethod method, String policy, byte[] data) {
    byte[] out = new byte[data.length * 2 + 128];
    byte[] name = b(policy);
    int n = method.call(name, name.length, data, data.length, out, 0, null, null, null);
    assertTrue(n >= 0, policy + ": " + n + " " + lastError());
    return Arrays.copyOf(out, n);
  }

  static String lastError() {
    byte[] out = new byte[1024];
    return text(out, JNI.getLastErrorMsg(out));
  }

  @BeforeAll
  void start() throws Exception {
    home = AgentHome.withAgent(Policies.json());
    home.configureLibrary();
    // Whatever the bytes say, the binding asks for the detailed log.
    byte[] level = b("ERROR");
    assertEquals(1, JNI.setLogLevel(level, level.length));
    // A user-defined-function host: its log file has its own name.
    assertEquals(0, JNI.setFilter(3));
    Files.createDirectories(home.file("logs"));
    assertEquals(1, JNI.init(), lastError());
  }

  @AfterAll
  void stop() throws Exception {
    if (home != null) home.close();
  }

  @Test
  void initialisesAndReportsItsState() {
    assertEquals(1, JNI.isInit());
    byte[] out = new byte[256];
    int n = JNI.initResult(out);
    assertTrue(text(out, n).startsWith("Result: SUCCESS"), text(out, n));
    assertEquals(n, JNI.initResult(null));
    assertEquals(1, JNI.checkHealthAgent());
    assertEquals(1, JNI.checkHealthServer());
    assertEquals(1, JNI.checkPolicy());
    assertEquals(1, JNI.checkCryptoModule());
  }

  @Test
  void theHostKindNamesTheLogFile() throws Exception {
    byte[] out = new byte[2048];
    String conf = text(out, JNI.checkAgent(b("show-conf"), out));
    assertTrue(conf.contains("\n Process Level : 3\n"), conf);
    try (Stream<Path> logs = Files.list(home.file("logs"))) {
      assertTrue(logs.anyMatch(p -> p.getFileName().toString().startsWith("qor_ude.log")));
    }
  }

  @Test
  void statusReportsCarryTheirTexts() {
    byte[] out = new byte[2048];
    int n = JNI.checkAgent(b("ALL"), out);
    String all = text(out, n);
    assertTrue(all.startsWith(" Product version : V 3.7.3\n Product release : 2.0.26.7"), all);
    assertTrue(all.contains("\n Load Policy : " + Policies.NAMES.length + "\n Load Policy status : OK "),
        all);

    n = JNI.checkAgent(b("show-conf"), out);
    String conf = text(out, n);
    assertTrue(conf.contains("\n Agent Home :" + home.dir + "\n"), conf);
    assertTrue(conf.contains("\n First Port : " + home.firstPort() + "\n"), conf);
    assertTrue(conf.contains("\n Log level : DEBUG\n"), conf);

    Arrays.fill(out, (byte) 0);
    n = JNI.checkAgent(b("data type size"), out);
    assertEquals("char : 1/ short : 2/ int : 4/ float : 4/ long : 8/ double : 8/ pointer : 8\n",
        text(out, n));
    n = JNI.checkAgent(b("no such command"), out);
    assertTrue(text(out, n).startsWith("all : Initializes the key if not already initialized"));
    assertEquals(n, JNI.checkAgent(b("no such command"), null));
  }

  @Test
  void listsTheLoadedPolicyNames() {
    byte[] out = new byte[2048];
    int n = JNI.loadKeyName(out);
    Set<String> names = new HashSet<>(Arrays.asList(text(out, n).split(":")));
    assertEquals(new HashSet<>(Arrays.asList(Policies.NAMES)), names);
    assertEquals(n, JNI.loadKeyName(null));
    assertThrows(ArrayIndexOutOfBoundsException.class, () -> JNI.loadKeyName(new byte[3]));
  }

  @Test
  void existPolicyReadsOnlyTheGivenLength() {
    byte[] name = b("ARIA_256 and more");
    assertEquals(1, JNI.existPolicy(name, 8));
    assertEquals(0, JNI.existPolicy(name, name.length));
    assertTrue(lastError().contains("could not be found"), lastError());
    assertEquals(-2, JNI.existPolicy(name, name.length + 1));
    assertEquals(-2, JNI.existPolicy(null, 0));
  }

  static Stream<Arguments> values() {
    String[] policies = {"ARIA_256", "AES_128", "SEED_RECORD", "NULLS", "FILES"};
    int[] lengths = {1, 15, 16, 17, 31, 32, 33, 1000};
    Stream.Builder<Arguments> cases = Stream.builder();
    for (String p : policies) {
      for (int n : lengths) {
        byte[] data = new byte[n];
        for (int i = 0; i < n; ++i) data[i] = (byte) (i * 31 + n);
        cases.add(Arguments.of(p, data));
      }
    }
    return cases.build();
  }

  @ParameterizedTest
  @MethodSource("values")
  void valuesComeBackExactly(String policy, byte[] data) {
    byte[] text = run(JNI::encryptStr, policy, data);
    assertTrue(text(text, text.length).startsWith("$."), text(text, text.length));
    assertArrayEquals(data, run(JNI::decryptStr, policy, text));
    byte[] binary = run(JNI::encryptBin, policy, data);
    assertArrayEquals(data, run(JNI::decryptBin, policy, binary));
  }

  @Test
  void storedValuesAgreeWithAnotherHostOfTheLibrary() throws Exception {
    // qorctl is a separate process using the C interface: what one host
    // stores the other reads, and a policy IV gives the same bytes in both.
    String value = "4111-1111-1111-1111";
    byte[] ours = run(JNI::encryptStr, "ARIA_256", b(value));
    String theirs = home.qorctl("encrypt", "ARIA_256", value).trim();
    assertEquals(theirs, text(ours, ours.length));
    assertEquals(value, home.qorctl("decrypt", "ARIA_256", text(ours, ours.length)).trim());
    String recordIv = home.qorctl("encrypt", "SEED_RECORD", value).trim();
    assertEquals(value, text(run(JNI::decryptStr, "SEED_RECORD", b(recordIv)),
        value.length()));
  }

  @Test
  void valuesCarryTheNewestKeyVersion() throws Exception {
    byte[] binary = run(JNI::encryptBin, "ARIA_256", b("x"));
    assertEquals(0, binary[0]);
    assertEquals(2, binary[1]);
    assertEquals((byte) 0xFE, binary[2]);
  }

  @Test
  void nullAndEmptyValuesFollowThePolicy() {
    byte[] name = b("ARIA_256");
    byte[] out = new byte[128];
    // Length -1 is an empty value, any other negative length a null value,
    // which a policy without null processing does not encrypt.
    int empty = JNI.encryptStr(name, name.length, null, -1, out, 0, null, null, null);
    assertTrue(empty > 0, "empty: " + empty);
    assertEquals(-2, JNI.encryptStr(name, name.length, null, -5, out, 0, null, null, null));
    assertEquals(-2, JNI.encryptStr(name, name.length, new byte[4], -5, out, 0, null, null, null));
    byte[] nulls = b("NULLS");
    int n = JNI.encryptStr(nulls, nulls.length, null, -5, out, 0, null, null, null);
    assertTrue(n > 0, "null under null processing: " + n);
    // An empty stored value under a policy without null processing: -3.
    assertEquals(-3, JNI.decryptStr(name, name.length, new byte[0], 0, out, 0, null, null, null));
  }

  @Test
  void failuresComeBackAsCodesWithTheirMessage() {
    byte[] name = b("NO_SUCH_POLICY");
    byte[] out = new byte[64];
    assertEquals(-1, JNI.encryptStr(name, name.length, b("v"), 1, out, 0, null, null, null));
    assertTrue(lastError().contains("NO_SUCH_POLICY"), lastError());
    byte[] aria = b("ARIA_256");
    byte[] garbage = b("$.not base64 at all");
    assertEquals(-1,
        JNI.decryptStr(aria, aria.length, garbage, garbage.length, out, 0, null, null, null));
  }

  @Test
  void lastErrorAfterSuccessIsZeroAndLeavesTheArray() {
    run(JNI::encryptStr, "AES_128", b("fine"));
    byte[] out = new byte[16];
    Arrays.fill(out, (byte) 7);
    assertEquals(0, JNI.getLastErrorMsg(out));
    for (byte x : out) assertEquals(7, x);
  }

  @Test
  void identitiesReachTheAccessRules() {
    byte[] name = b("GUARDED");
    byte[] out = new byte[128];
    byte[] data = b("secret");
    // The value methods hand identityB over as the first identity.
    assertTrue(JNI.encryptStr(name, name.length, data, data.length, out, 1, b("bob\0"),
        b("alice\0"), b("x\0")) > 0, lastError());
    // An identity without a closing zero byte is the same text.
    assertTrue(
        JNI.encryptStr(name, name.length, data, data.length, out, 1, b("bob"), b("alice"), b("x"))
            > 0, lastError());
    assertTrue(JNI.encryptStr(name, name.length, data, data.length, out, 1, b("alice"), b("bob"),
        b("x")) < 0);
  }

  @Test
  void bindingFailuresReturnMinusTwoWithoutCallingTheLibrary() {
    ValueMethod[] methods = {JNI::encryptStr, JNI::decryptStr, JNI::encryptBin, JNI::decryptBin};
    byte[] name = b("ARIA_256");
    byte[] data = b("value");
    byte[] out = new byte[128];
    for (ValueMethod m : methods) {
      // A marker error that a library call would replace.
      assertEquals(-1, JNI.checkHealthServer(1));
      assertEquals(-2, m.call(null, 0, data, data.length, out, 0, null, null, null));
      assertEquals(-2, m.call(name, name.length + 1, data, data.length, out, 0, null, null, null));
      assertEquals(-2, m.call(name, -1, data, data.length, out, 0, null, null, null));
      assertEquals(-2, m.call(name, name.length, data, data.length + 1, out, 0, null, null, null));
      assertEquals(-2, m.call(name, name.length, null, 3, out, 0, null, null, null));
      assertEquals(-2, m.call(name, name.length, data, data.length, out, 1, b("a"), b("b"), null));
      assertEquals(-2, m.call(name, name.length, data, data.length, out, 1, b("a"), null, b("c")));
      assertEquals(-2, m.call(name, name.length, data, data.length, out, 1, null, b("b"), b("c")));
      assertEquals("the function is not yet supported.", lastError());
    }
    assertEquals(-2, JNI.decryptStr(name, name.length, data, -1, out, 0, null, null, null));
    assertEquals(-2, JNI.setHome(null, 0));
    assertEquals(-2, JNI.setFirstPort(b("1"), 2));
    assertEquals(-2, JNI.setSecondPort(b("1"), -1));
    assertEquals(-2, JNI.setLogLevel(null, 1));
    assertEquals(-2, JNI.setBMT(null, 1));
    assertEquals(-2, JNI.checkAgent(null, out));
  }

  @Test
  void shortOutputArraysThrowAndNullOnesAreSkipped() {
    byte[] name = b("ARIA_256");
    byte[] data = b("a value longer than the output");
    assertThrows(ArrayIndexOutOfBoundsException.class,
        () -> JNI.encryptStr(name, name.length, data, data.length, new byte[4], 0, null, null,
            null));
    int n = JNI.encryptStr(name, name.length, data, data.length, null, 0, null, null, null);
    assertTrue(n > data.length, "length without an output array: " + n);
    assertThrows(ArrayIndexOutOfBoundsException.class, () -> JNI.initResult(new byte[2]));
    assertThrows(ArrayIndexOutOfBoundsException.class,
        () -> JNI.checkAgent(b("all"), new byte[10]));
    JNI.existPolicy(b("MISSING"), 7);
    assertThrows(ArrayIndexOutOfBoundsException.class, () -> JNI.getLastErrorMsg(new byte[1]));
    assertTrue(JNI.getLastErrorMsg(null) > 0);
  }

  @Test
  void checkHealthServerWithAnArgumentIsNotSupported() {
    assertEquals(-1, JNI.checkHealthServer(0));
    assertEquals("the function is not yet supported.", lastError());
  }

  /** The outputs of one file call. */
  static final class FileCall {
    final byte[] tag = new byte[8];
    final byte[] message = new byte[1024];
    final long[] time = {-1};
    final byte[] address = new byte[32];
    final int[] reserved = {-1};
    final int[] cipherVerified = {-1};
    final int[] plainVerified = {-1};
    int code;

    FileCall encrypt(String policy, Path source, Path target) {
      code = JNI.encryptFile(b(policy), b(source.toString()), b(target.toString()), tag, message,
          time, address, reserved, cipherVerified, plainVerified, 0, null, null, null);
      return this;
    }

    FileCall decrypt(String policy, Path source, Path target) {
      code = JNI.decryptFile(b(policy), b(source.toString()), b(target.toString()), tag, message,
          time, address, reserved, cipherVerified, plainVerified, 0, null, null, null);
      return this;
    }

    String tag() {
      return new String(tag, UTF_8).replace("\0", "");
    }

    String message() {
      return new String(message, UTF_8).replace("\0", "");
    }
  }

  static byte[] content(int n) {
    byte[] data = new byte[n];
    for (int i = 0; i < n; ++i) data[i] = (byte) (i * 7 + (i >> 8));
    return data;
  }

  @Test
  void filesEncryptInAChildWhileOtherJavaThreadsWork() throws Exception {
    byte[] original = content(300_000);
    Path plain = home.file("plain.bin");
    Path encrypted = home.file("plain.enc");
    Path decrypted = home.file("plain.dec");
    Files.write(plain, original);

    Thread[] busy = new Thread[4];
    boolean[] ok = new boolean[busy.length];
    java.util.concurrent.atomic.AtomicBoolean stop = new java.util.concurrent.atomic.AtomicBoolean();
    for (int t = 0; t < busy.length; ++t) {
      final int id = t;
      busy[t] = new Thread(() -> {
        byte[] value = b("busy value " + id);
        boolean good = true;
        while (!stop.get() && good) {
          good = Arrays.equals(value, run(JNI::decryptStr, "AES_128",
              run(JNI::encryptStr, "AES_128", value)));
          byte[] garbage = new byte[4096];
          Arrays.fill(garbage, (byte) id);
        }
        ok[id] = good;
      });
      busy[t].start();
    }
    FileCall enc;
    try {
      enc = new FileCall().encrypt("FILES", plain, encrypted);
    } finally {
      stop.set(true);
      for (Thread t : busy) t.join();
    }
    for (boolean good : ok) assertTrue(good);
    assertEquals(0, enc.code, enc.message());
    // Only the child's exit status comes back.
    assertEquals(0, enc.time[0]);
    assertEquals(0, enc.reserved[0]);
    assertEquals(0, enc.cipherVerified[0]);
    assertEquals(0, enc.plainVerified[0]);
    assertEquals(0, enc.address[0]);
    assertTrue(Files.size(encrypted) > original.length);

    // Decryption removes its source: another host of the library reads a copy.
    Path copy = home.file("plain.enc.copy");
    Files.copy(encrypted, copy);
    Path other = home.file("plain.other");
    home.qorctl("decrypt-file", "--quiet", "FILES", copy.toString(), other.toString());
    assertArrayEquals(original, Files.readAllBytes(other));

    long before = System.currentTimeMillis() / 1000;
    FileCall dec = new FileCall().decrypt("FILES", encrypted, decrypted);
    assertEquals(0, dec.code, dec.message());
    assertArrayEquals(original, Files.readAllBytes(decrypted));
    // The header's time, in seconds: written moments ago.
    assertTrue(dec.time[0] > before - 120 && dec.time[0] <= before + 5, "time " + dec.time[0]);
    assertEquals(0, dec.reserved[0]);
    assertEquals(1, dec.cipherVerified[0]);
    assertEquals(1, dec.plainVerified[0]);
    assertEquals("", dec.tag());
  }

  @Test
  void fileFailuresCarryCodeTagAndMessage() throws Exception {
    Path missing = home.file("missing.bin");
    FileCall enc = new FileCall().encrypt("FILES", missing, home.file("missing.enc"));
    // The forked run reports only that it failed.
    assertEquals(-1, enc.code);
    FileCall dec = new FileCall().decrypt("FILES", missing, home.file("missing.dec"));
    assertTrue(dec.code != 0);
    assertTrue(dec.tag().length() >= 3, dec.tag());
    assertTrue(!dec.message().isEmpty());
  }

  @Test
  void fileMethodsRefuseMissingArrays() throws Exception {
    Path plain = home.file("args.bin");
    Files.write(plain, content(10));
    byte[] p = b(plain.toString());
    byte[] t = b(home.file("args.enc").toString());
    byte[] name = b("FILES");
    long[] time = new long[1];
    int[] reserved = new int[1];
    assertEquals(-2, JNI.encryptFile(name, p, t, null, null, null, null, reserved, null, null, 0,
        null, null, null));
    assertEquals(-2, JNI.decryptFile(name, p, t, null, null, time, null, null, null, null, 0,
        null, null, null));
    assertEquals(-2, JNI.encryptFile(null, p, t, null, null, time, null, reserved, null, null, 0,
        null, null, null));
    assertEquals(-2, JNI.decryptFile(name, null, t, null, null, time, null, reserved, null, null,
        0, null, null, null));
    assertEquals(-2, JNI.encryptFile(name, p, t, null, null, time, null, reserved, null, null, 1,
        b("a"), null, b("c")));
    assertFalseExists(home.file("args.enc"));
    // Optional outputs may be null; a short required one throws. A name
    // with a closing zero byte names the same policy.
    assertEquals(0, JNI.encryptFile(b("FILES\0"), p, t, null, null, time, null, reserved, null,
        null, 0, null, null, null));
    assertThrows(ArrayIndexOutOfBoundsException.class, () -> JNI.decryptFile(name, t,
        b(home.file("args.dec").toString()), null, null, new long[0], null, reserved, null, null,
        0, null, null, null));
  }

  static void assertFalseExists(Path p) {
    assertTrue(!Files.exists(p), p + " exists");
  }

  @Test
  void manyJavaThreadsEncryptAtOnce() throws Exception {
    final int threads = 16;
    final int rounds = 300;
    byte[] reference = run(JNI::encryptStr, "ARIA_256", b("same value"));
    Thread[] workers = new Thread[threads];
    String[] failure = new String[threads];
    for (int t = 0; t < threads; ++t) {
      final int id = t;
      workers[t] = new Thread(() -> {
        try {
          for (int i = 0; i < rounds; ++i) {
            byte[] value = b("thread " + id + " value " + i);
            String policy = Policies.NAMES[(id + i) % 4];
            byte[] text = run(JNI::encryptStr, policy, value);
            if (!Arrays.equals(value, run(JNI::decryptStr, policy, text))) {
              failure[id] = "round trip " + policy + " " + i;
              return;
            }
            byte[] again = run(JNI::encryptStr, "ARIA_256", b("same value"));
            if (!Arrays.equals(reference, again)) {
              failure[id] = "different ciphertext at " + i;
              return;
            }
          }
        } catch (Throwable e) {
          failure[id] = e.toString();
        }
      });
    }
    for (Thread w : workers) w.start();
    for (Thread w : workers) w.join();
    for (String f : failure) assertEquals(null, f);
  }
}
