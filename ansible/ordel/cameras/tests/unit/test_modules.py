"""The modules against a stand-in ordelctl that prints given JSON lines and
exit code and records its arguments: what each module asks ordelctl, and how
it folds the answer into the task's result."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

COLLECTION = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..'))

FAKE = '''#!/bin/sh
printf '%s\\n' "$@" > "$FAKE_ARGV"
cat "$FAKE_STDOUT"
printf '%s' "$FAKE_STDERR" >&2
exit "$FAKE_RC"
'''


def lines(*objects):
    return ''.join(json.dumps(item) + '\n' for item in objects)


def final(ip, result, message=''):
    return dict(ip=ip, result=result, message=message, seconds=1.0, verified=result == 'succeeded')


class ModuleTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.TemporaryDirectory()
        namespace = os.path.join(cls.root.name, 'ansible_collections', 'ordel')
        os.makedirs(namespace)
        os.symlink(COLLECTION, os.path.join(namespace, 'cameras'))
        cls.fake = os.path.join(cls.root.name, 'ordelctl')
        with open(cls.fake, 'w') as script:
            script.write(FAKE)
        os.chmod(cls.fake, 0o755)

    @classmethod
    def tearDownClass(cls):
        cls.root.cleanup()

    def run_module(self, name, args, stdout='', rc=0, stderr='', check=False):
        """The module's result, and the arguments ordelctl got (None when it did not run)."""
        work = tempfile.mkdtemp(dir=self.root.name)
        paths = {key: os.path.join(work, key) for key in ('args', 'argv', 'stdout')}
        with open(paths['stdout'], 'w') as out:
            out.write(stdout)
        with open(paths['args'], 'w') as out:
            args = dict(args, executable=args.get('executable', self.fake), _ansible_check_mode=check)
            json.dump(dict(ANSIBLE_MODULE_ARGS=args), out)
        env = dict(os.environ, PYTHONPATH=self.root.name, PYTHONDONTWRITEBYTECODE='1',
                   FAKE_ARGV=paths['argv'], FAKE_STDOUT=paths['stdout'], FAKE_STDERR=stderr,
                   FAKE_RC=str(rc))
        module = os.path.join(COLLECTION, 'plugins', 'modules', name + '.py')
        done = subprocess.run([sys.executable, module, paths['args']], env=env,
                              stdout=subprocess.PIPE, check=False)
        argv = None
        if os.path.exists(paths['argv']):
            with open(paths['argv']) as got:
                argv = got.read().splitlines()
        return json.loads(done.stdout), argv


class FirmwareTest(ModuleTest):
    ARGS = dict(image='/var/tmp/fw.bin', version='2.9.0')

    def test_run_fails_naming_each_camera_that_did_not_succeed(self):
        out = lines(dict(event='image', file='fw.bin', size=4, md5='00'),
                    dict(ip='198.51.100.11', event='planned'),
                    dict(ip='198.51.100.11', event='phase', phase='sending'),
                    final('198.51.100.11', 'succeeded', 'verified: running 2.9.0'),
                    final('198.51.100.12', 'failed', 'came back on 2.8.1, not 2.9.0'),
                    final('198.51.100.13', 'skipped', 'already on firmware 2.9.0'),
                    final('198.51.100.14', 'missing', 'did not answer'))
        result, argv = self.run_module('camera_firmware', dict(self.ARGS, canary=2), out, rc=1)
        self.assertEqual(argv, ['update', '--yes', '--image', '/var/tmp/fw.bin', '--fw-version',
                                '2.9.0', '--canary', '2', '--all', '--json'])
        self.assertTrue(result['failed'])
        self.assertTrue(result['changed'])
        self.assertEqual(result['msg'], 'cameras failed: 198.51.100.12 (came back on 2.8.1, not 2.9.0), '
                                        '198.51.100.14 (missing: did not answer)')
        self.assertEqual([item['ip'] for item in result['results']],
                         ['198.51.100.11', '198.51.100.12', '198.51.100.13', '198.51.100.14'])
        self.assertEqual(result['updated'], ['198.51.100.11'])
        self.assertEqual(result['skipped_cameras'], ['198.51.100.13'])
        self.assertNotIn('skipped', result)
        self.assertEqual(result['failed_cameras'], ['198.51.100.12', '198.51.100.14'])
        self.assertEqual(result['image']['md5'], '00')

    def test_run_with_every_camera_skipped_changes_nothing(self):
        out = lines(final('198.51.100.11', 'skipped', 'already on firmware 2.9.0'))
        result, argv = self.run_module('camera_firmware', dict(self.ARGS, cameras=['198.51.100.11']), out)
        self.assertEqual(argv[-3:], ['--json', '--', '198.51.100.11'])
        self.assertNotIn('--all', argv)
        self.assertFalse(result.get('failed'))
        self.assertFalse(result['changed'])

    def test_check_mode_plans_without_yes(self):
        out = lines(dict(ip='198.51.100.11', plan='update', reason='on 2.8.1'),
                    dict(ip='198.51.100.12', plan='skip', reason='already on firmware 2.9.0'))
        result, argv = self.run_module('camera_firmware', self.ARGS, out, check=True)
        self.assertEqual(argv[:2], ['update', '--check'])
        self.assertNotIn('--yes', argv)
        self.assertTrue(result['changed'])
        self.assertEqual(result['updated'], ['198.51.100.11'])
        self.assertEqual(result['results'][1]['plan'], 'skip')

        out += lines(dict(ip='198.51.100.13', plan='refuse', reason='address 198.51.100.13 is not a camera'))
        result, _ = self.run_module('camera_firmware', self.ARGS, out, rc=2, check=True)
        self.assertTrue(result['failed'])
        self.assertEqual(result['msg'], 'a run would fail cameras: 198.51.100.13 '
                                        '(address 198.51.100.13 is not a camera)')

    def test_check_mode_plans_before_the_image_is_copied(self):
        missing = dict(self.ARGS, image=os.path.join(self.root.name, 'not-copied-yet.bin'))
        out = lines(dict(event='image', file='image-not-on-host-yet', size=1, md5='55'),
                    dict(ip='198.51.100.11', plan='update', reason='on 2.8.1'),
                    dict(ip='198.51.100.12', plan='skip', reason='already on firmware 2.9.0'))
        result, argv = self.run_module('camera_firmware', dict(missing, type='T1'), out, check=True)
        stand_in = argv[argv.index('--image') + 1]
        self.assertNotEqual(stand_in, missing['image'])
        self.assertFalse(os.path.exists(stand_in))
        self.assertEqual(argv[argv.index('--type'):], ['--type', 'T1', '--all', '--json'])
        self.assertFalse(result.get('failed'))
        self.assertTrue(result['changed'])
        self.assertEqual(result['updated'], ['198.51.100.11'])
        self.assertEqual(result['skipped_cameras'], ['198.51.100.12'])
        self.assertIsNone(result['image'])
        self.assertIn(missing['image'] + ' is not on the managed host yet', result['msg'])

        # Only a missing image is stood in for, and only in check mode.
        _, argv = self.run_module('camera_firmware', dict(self.ARGS, image=self.fake), out, check=True)
        self.assertEqual(argv[argv.index('--image') + 1], self.fake)
        _, argv = self.run_module('camera_firmware', missing, rc=2)
        self.assertEqual(argv[:4], ['update', '--yes', '--image', missing['image']])

    def test_refusal_and_foreign_output_fail_with_their_text(self):
        result, _ = self.run_module('camera_firmware', self.ARGS, rc=2,
                                    stderr='ordelctl: --all: no camera answered the search\n')
        self.assertTrue(result['failed'])
        self.assertEqual(result['msg'], 'ordelctl: --all: no camera answered the search')
        self.assertEqual(result['results'], [])

        result, _ = self.run_module('camera_firmware', self.ARGS, '{"ip": "198.51.100.11"}\nUpdating...\n')
        self.assertTrue(result['failed'])
        self.assertEqual(result['msg'], 'ordelctl printed a line that is not a JSON object: Updating...')

    def test_missing_executable_fails_clearly(self):
        result, _ = self.run_module('camera_firmware', dict(self.ARGS, executable='no-such-ordelctl'))
        self.assertTrue(result['failed'])
        self.assertIn('no-such-ordelctl was not found on the PATH of the managed host', result['msg'])


class FactsTest(ModuleTest):
    CAMERA = dict(ip='198.51.100.11', mac='02:00:00:00:00:11', sn='S11', name='gate', type='T1',
                  os='1.0', fw='2.9.0')

    def test_missing_cameras_are_returned_not_failed(self):
        gone = dict(self.CAMERA, ip='198.51.100.12', missing=True)
        result, argv = self.run_module('camera_facts', dict(expect='/tmp/e.json', timeout=3000),
                                       lines(self.CAMERA, gone), rc=1)
        self.assertEqual(argv, ['search', '--timeout', '3000', '--expect', '/tmp/e.json', '--json'])
        self.assertFalse(result.get('failed'))
        self.assertFalse(result['changed'])
        self.assertEqual(result['cameras'], [self.CAMERA])
        self.assertEqual(result['missing'], [gone])
        self.assertEqual(result['ansible_facts']['ordel_cameras'], [self.CAMERA])

    def test_search_that_could_not_listen_fails(self):
        result, _ = self.run_module('camera_facts', {}, rc=1, stderr='ordelctl: cannot search: in use\n')
        self.assertTrue(result['failed'])
        self.assertEqual(result['msg'], 'ordelctl: cannot search: in use')


class PowerTest(ModuleTest):

    def test_power_sends_and_names_failures(self):
        out = lines(final('198.51.100.11', 'sent'), final('198.51.100.12', 'failed', 'broker not reachable'))
        result, argv = self.run_module('camera_power', dict(cameras=['198.51.100.11', '198.51.100.12'],
                                                            state='stopped'), out, rc=1)
        self.assertEqual(argv, ['shutdown', '--yes', '--json', '--', '198.51.100.11', '198.51.100.12'])
        self.assertTrue(result['failed'])
        self.assertTrue(result['changed'])
        self.assertEqual(result['msg'], 'cameras failed: 198.51.100.12 (broker not reachable)')

    def test_check_mode_sends_nothing(self):
        result, argv = self.run_module('camera_power', dict(cameras=['198.51.100.11'], state='restarted'),
                                       check=True)
        self.assertIsNone(argv)
        self.assertTrue(result['changed'])


if __name__ == '__main__':
    unittest.main()
