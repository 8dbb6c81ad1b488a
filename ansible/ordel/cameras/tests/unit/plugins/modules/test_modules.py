# -*- coding: utf-8 -*-
# Copyright 2026 Ordel Toolkits team
# SPDX-License-Identifier: LicenseRef-proprietary
"""The modules with their arguments set and run_command patched to print
given JSON lines and exit code: what each module asks ordelctl, how it folds
the answer into the task's result, and what it refuses before running."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import shutil
import tempfile
import unittest

import yaml
from ansible.module_utils import basic
from ansible.module_utils.common.text.converters import to_bytes
from ansible_collections.ordel.cameras.plugins.module_utils import ordelctl
from ansible_collections.ordel.cameras.plugins.modules import camera_facts, camera_firmware, camera_power

try:
    from unittest import mock
except ImportError:  # pragma: no cover
    import mock

MODULES = dict(camera_facts=camera_facts, camera_firmware=camera_firmware, camera_power=camera_power)


class Exit(Exception):
    pass


def exit_json(self, **result):
    raise Exit(dict(result, failed=False))


def fail_json(self, **result):
    raise Exit(dict(result, failed=True))


def lines(*objects):
    return ''.join(json.dumps(item) + '\n' for item in objects)


def final(ip, result, message=''):
    return dict(ip=ip, result=result, message=message, seconds=1.0, verified=result == 'succeeded')


class ModuleTest(unittest.TestCase):

    def setUp(self):
        self.root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.root)
        self.fake = os.path.join(self.root, 'ordelctl')
        with open(self.fake, 'w') as script:
            script.write('#!/bin/sh\nexit 0\n')
        os.chmod(self.fake, 0o755)
        for name, patched in (('exit_json', exit_json), ('fail_json', fail_json)):
            patcher = mock.patch.object(basic.AnsibleModule, name, patched)
            patcher.start()
            self.addCleanup(patcher.stop)

    def run_module(self, name, args, stdout='', rc=0, stderr='', check=False, diff=False, outputs=None):
        """The module's result, and the arguments of ordelctl's last run (None
        when it did not run). outputs, a list of (stdout, rc), answers one run
        each in turn."""
        args = dict(args, executable=args.get('executable', self.fake), _ansible_check_mode=check,
                    _ansible_diff=diff, _ansible_tmpdir=self.root)
        answers = list(outputs or [(stdout, rc)])
        self.argvs = []

        def run_command(module, argv, **_kwargs):
            self.argvs.append(argv[1:])
            out, code = answers.pop(0)
            return code, out, stderr
        with mock.patch.object(basic, '_ANSIBLE_ARGS', to_bytes(json.dumps(dict(ANSIBLE_MODULE_ARGS=args)))):
            with mock.patch.object(basic.AnsibleModule, 'run_command', run_command):
                with self.assertRaises(Exit) as raised:
                    MODULES[name].main()
        return raised.exception.args[0], self.argvs[-1] if self.argvs else None


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
        result, argv = self.run_module('camera_firmware', self.ARGS, out, rc=2, check=True)
        self.assertTrue(result['failed'])
        self.assertEqual(result['msg'], 'a run would fail cameras: 198.51.100.13 '
                                        '(address 198.51.100.13 is not a camera)')

    def test_check_mode_plans_before_the_image_is_copied(self):
        missing = dict(self.ARGS, image=os.path.join(self.root, 'not-copied-yet.bin'))
        out = lines(dict(event='image', file='image-not-on-host-yet', size=1, md5='55'),
                    dict(ip='198.51.100.11', plan='update', reason='on 2.8.1'),
                    dict(ip='198.51.100.12', plan='skip', reason='already on firmware 2.9.0'))
        result, argv = self.run_module('camera_firmware', dict(missing, type='T1'), out, check=True)
        stand_in = argv[argv.index('--image') + 1]
        self.assertNotEqual(stand_in, missing['image'])
        # Ansible removes the module's temporary directory.
        self.assertEqual(os.path.dirname(stand_in), self.root)
        self.assertEqual(argv[argv.index('--type'):], ['--type', 'T1', '--all', '--json'])
        self.assertFalse(result.get('failed'))
        self.assertTrue(result['changed'])
        self.assertEqual(result['updated'], ['198.51.100.11'])
        self.assertEqual(result['skipped_cameras'], ['198.51.100.12'])
        self.assertIsNone(result['image'])
        self.assertIn(missing['image'] + ' is not on the managed host yet', result['msg'])

        # Only a missing image is stood in for, and only in check mode.
        argv = self.run_module('camera_firmware', dict(self.ARGS, image=self.fake), out, check=True)[1]
        self.assertEqual(argv[argv.index('--image') + 1], self.fake)
        argv = self.run_module('camera_firmware', missing, rc=2)[1]
        self.assertEqual(argv[:4], ['update', '--yes', '--image', missing['image']])

    def test_refusal_and_foreign_output_fail_with_their_text(self):
        result, argv = self.run_module('camera_firmware', self.ARGS, rc=2,
                                       stderr='ordelctl: --all: no camera answered the search\n')
        self.assertTrue(result['failed'])
        self.assertEqual(result['msg'], 'ordelctl: --all: no camera answered the search')
        self.assertEqual(result['results'], [])

        result, argv = self.run_module('camera_firmware', self.ARGS, '{"ip": "198.51.100.11"}\nUpdating...\n')
        self.assertTrue(result['failed'])
        self.assertEqual(result['msg'], 'ordelctl printed a line that is not a JSON object: Updating...')

    def test_diff_shows_each_cameras_version_before_and_after(self):
        plan = lines(dict(ip='198.51.100.11', plan='update', reason='canary, on 2.8.1'),
                     dict(ip='198.51.100.12', plan='skip', reason='already on firmware 2.9.0'),
                     dict(ip='198.51.100.13', plan='update', reason='did not answer the search: its version is unknown'))
        before = '198.51.100.11: 2.8.1\n198.51.100.12: 2.9.0\n198.51.100.13: unknown\n'
        result, argv = self.run_module('camera_firmware', self.ARGS, plan, check=True, diff=True)
        self.assertEqual(len(self.argvs), 1)
        self.assertEqual(result['diff']['before'], before)
        self.assertEqual(result['diff']['after'], '198.51.100.11: 2.9.0\n198.51.100.12: 2.9.0\n'
                                                  '198.51.100.13: 2.9.0\n')

        # A run asks for the plan first; a camera that failed keeps its version.
        run = lines(final('198.51.100.11', 'succeeded'), final('198.51.100.12', 'skipped'),
                    final('198.51.100.13', 'failed', 'broker not reachable'))
        result, argv = self.run_module('camera_firmware', self.ARGS, diff=True, outputs=[(plan, 0), (run, 1)])
        self.assertEqual([got[:2] for got in self.argvs], [['update', '--check'], ['update', '--yes']])
        self.assertEqual(self.argvs[0][2:], argv[2:])
        self.assertEqual(result['diff']['before'], before)
        self.assertEqual(result['diff']['after'], '198.51.100.11: 2.9.0\n198.51.100.12: 2.9.0\n'
                                                  '198.51.100.13: unknown\n')

    def test_failure_carries_command_exit_code_stderr_and_foreign_lines(self):
        result, argv = self.run_module('camera_firmware', dict(self.ARGS, cameras=['198.51.100.11']),
                                       'Updating...\n' + lines(final('198.51.100.11', 'failed')), rc=1,
                                       stderr='1 failed\n')
        self.assertTrue(result['failed'])
        self.assertEqual(result['cmd'], ' '.join([self.fake] + argv))
        self.assertEqual((result['rc'], result['stderr'], result['non_json_lines']),
                         (1, '1 failed\n', ['Updating...']))

        result, argv = self.run_module('camera_power', dict(cameras=['198.51.100.11'], state='stopped'),
                                       lines(final('198.51.100.11', 'failed', 'broker not reachable')), rc=1)
        self.assertEqual((result['cmd'].split()[1], result['rc'], result['non_json_lines']), ('shutdown', 1, []))

    def test_missing_executable_fails_clearly(self):
        result, argv = self.run_module('camera_firmware', dict(self.ARGS, executable='no-such-ordelctl'))
        self.assertTrue(result['failed'])
        self.assertIn('no-such-ordelctl was not found on the PATH of the managed host', result['msg'])


class RefusedBeforeRunningTest(ModuleTest):
    """What ordelctl would refuse fails on the controller, naming the
    module's options, and ordelctl never runs."""
    FIRMWARE = dict(image='/var/tmp/fw.bin', version='2.9.0')
    POWER = dict(cameras=['198.51.100.11'], state='restarted')
    CASES = [
        ('camera_firmware', dict(FIRMWARE, cameras=['198.51.100.11'], expect='/tmp/e.json'), False,
         'mutually exclusive: cameras|expect'),
        ('camera_firmware', dict(FIRMWARE, type='T1', any_type=True), False, 'mutually exclusive: type|any_type'),
        ('camera_firmware', dict(FIRMWARE, parallel=0), False, 'parallel takes a whole number from 1 to 256, not 0'),
        ('camera_firmware', dict(FIRMWARE, parallel=257), True, 'parallel takes a whole number from 1 to 256'),
        ('camera_firmware', dict(FIRMWARE, canary=0), False, 'canary takes a whole number from 1 to 100000'),
        ('camera_firmware', dict(FIRMWARE, max_failures=100001), False, 'max_failures takes a whole number'),
        ('camera_firmware', dict(FIRMWARE, report_timeout=86401), False, 'report_timeout takes a whole number'),
        ('camera_firmware', dict(FIRMWARE, verify_timeout=-1), False, 'verify_timeout takes a whole number'),
        ('camera_facts', dict(timeout=600001), True, 'timeout takes a whole number from 1 to 600000'),
        ('camera_facts', dict(executable='/'), False, '/ is not an executable file on the managed host'),
        ('camera_power', dict(POWER, executable='/no/such/ordelctl'), True, 'is not an executable file'),
        ('camera_power', dict(POWER, cameras=['198.51.100.256']), True, '198.51.100.256 is not a dotted IPv4'),
        ('camera_power', dict(POWER, cameras=['198.51.100.11', '198.51.100.011']), True,
         '198.51.100.011 is not a dotted IPv4'),
        ('camera_power', dict(POWER, cameras=['0.0.0.0']), True, '0.0.0.0 is not a dotted IPv4'),
        ('camera_power', dict(POWER, cameras=['255.255.255.255']), True, '255.255.255.255 is not a dotted IPv4'),
        ('camera_power', dict(POWER, cameras=['127.0.0.1']), True, "address 127.0.0.1 is not a camera's address"),
        ('camera_power', dict(POWER, cameras=['\u0661.2.3.4']), True, 'is not a dotted IPv4'),
        ('camera_power', dict(POWER, cameras=['-h']), True, '-h is not a dotted IPv4'),
        ('camera_power', dict(POWER, cameras=[]), True, 'name at least one camera'),
    ]

    def test_refused_on_the_controller(self):
        for name, args, check, msg in self.CASES:
            with self.subTest(name=name, args=args, check=check):
                result, argv = self.run_module(name, args, check=check)
                self.assertIsNone(argv)
                self.assertTrue(result['failed'])
                self.assertIn(msg, result['msg'])


class CameraAddressTest(unittest.TestCase):
    """The rule check mode applies is ordelctl's: its own unit test reads the
    same table."""

    def test_refuses_what_ordelctl_refuses(self):
        with open(os.path.join(os.path.dirname(__file__), 'camera_addresses.json')) as table:
            rows = json.load(table)
        for address, camera in rows:
            with self.subTest(address=address):
                self.assertEqual(ordelctl.why_not_a_camera(address) is None, camera)


class OptionLimitTest(unittest.TestCase):
    """The numbers each module refuses on the controller, and documents, are
    the ones ordelctl takes: its own unit test reads the same table."""

    def test_ranges_are_ordelctls(self):
        with open(os.path.join(os.path.dirname(__file__), 'option_limits.json')) as table:
            limits = json.load(table)
        for name in ('camera_facts', 'camera_firmware'):
            module = MODULES[name]
            options = yaml.safe_load(module.DOCUMENTATION)['options']
            for param, flag in module.OPTION_FLAGS:
                if flag[2:] not in limits:
                    continue
                with self.subTest(module=name, option=param):
                    lowest, highest = limits[flag[2:]]
                    self.assertEqual(module.RANGES.get(param), (lowest, highest))
                    described = options[param]['description']
                    if not isinstance(described, list):
                        described = [described]
                    described = ' '.join(described)
                    self.assertIn('from %d to %d' % (lowest, highest), ' '.join(described.split()))


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
        result, argv = self.run_module('camera_facts', {}, rc=1, stderr='ordelctl: cannot search: in use\n')
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
        # Only ip runs, for the managed host's own addresses, which ordelctl
        # fails as well.
        own = ('2: eth0    inet 198.51.100.2/24 brd 198.51.100.255 scope global eth0\\       valid_lft forever\n'
               '1: lo    inet 127.0.0.1/8 scope host lo\\       valid_lft forever\n')
        for camera, refused in (('198.51.100.11', False), ('198.51.100.2', True), ('198.51.100.255', True)):
            with self.subTest(camera=camera):
                with mock.patch.object(basic.AnsibleModule, 'get_bin_path', lambda module, name: '/sbin/' + name):
                    result, argv = self.run_module('camera_power', dict(cameras=[camera], state='restarted'),
                                                   own, check=True)
                self.assertEqual(self.argvs, [['-o', '-4', 'address', 'show']])
                self.assertEqual(result['failed'], refused)
                self.assertEqual(result.get('changed'), None if refused else True)


if __name__ == '__main__':
    unittest.main()
